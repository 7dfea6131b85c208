#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

// What a slot's recording is doing right now, for the grid item and both servers. The figures
// come from the recording program's reports, not from the wall clock. Changes are announced at
// most twice a second, the first of a quiet spell at once. Main thread only.
class RecordingTelemetry : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString state READ state NOTIFY changed)
    Q_PROPERTY(double elapsedMs READ elapsedMsDouble NOTIFY changed)
    Q_PROPERTY(QString elapsedText READ elapsedText NOTIFY changed)
    Q_PROPERTY(double pieceFrames READ pieceFramesDouble NOTIFY changed)
    Q_PROPERTY(double totalFrames READ totalFramesDouble NOTIFY changed)
    Q_PROPERTY(QString filePath READ filePath NOTIFY changed)
    Q_PROPERTY(QString fileName READ fileName NOTIFY changed)
    Q_PROPERTY(int piece READ piece NOTIFY changed)
    Q_PROPERTY(QString location READ location NOTIFY changed)
    Q_PROPERTY(int delayedCount READ delayedCount NOTIFY changed)
    Q_PROPERTY(double bytesWritten READ bytesWrittenDouble NOTIFY changed)
    Q_PROPERTY(QString warning READ warning NOTIFY changed)

public:
    // "idle", "waiting", "recording", "stalled" (no progress), "failed" (ended by an error).
    enum class State { Idle, Waiting, Recording, Stalled, Failed };

    explicit RecordingTelemetry(QObject* parent = nullptr);

    QString state() const { return stateName(m_state); }
    State stateValue() const { return m_state; }
    qint64 elapsedMs() const { return m_elapsedMs; }
    QString elapsedText() const { return clockText(m_elapsedMs); }
    qint64 pieceFrames() const { return m_pieceFrames; }
    qint64 totalFrames() const { return m_totalFrames; }
    QString filePath() const { return m_filePath; }
    QString fileName() const;
    int piece() const { return m_piece; }
    QString location() const { return m_location; }
    int delayedCount() const { return m_delayedCount; }
    qint64 bytesWritten() const { return m_bytesWritten; }
    QString warning() const { return m_warning; }

    static QString stateName(State state);
    // hh:mm:ss, hours going past 99 when they must.
    static QString clockText(qint64 ms);

    void setState(State state);
    // A new recording: every figure back to zero.
    void begin();
    void setPiece(int piece, const QString& path, const QString& location);
    void setProgress(qint64 elapsedMs, qint64 pieceFrames, qint64 totalFrames);
    void countDelay();
    void setWarning(const QString& warning);

Q_SIGNALS:
    void changed();

private:
    void touch();
    void announce();
    double elapsedMsDouble() const { return double(m_elapsedMs); }
    double pieceFramesDouble() const { return double(m_pieceFrames); }
    double totalFramesDouble() const { return double(m_totalFrames); }
    double bytesWrittenDouble() const { return double(m_bytesWritten); }

    State m_state = State::Idle;
    qint64 m_elapsedMs = 0;
    qint64 m_pieceFrames = 0;
    qint64 m_totalFrames = 0;
    QString m_filePath;
    int m_piece = 0;
    QString m_location;
    int m_delayedCount = 0;
    qint64 m_bytesWritten = 0;
    QString m_warning;
    QTimer m_announce;
    QElapsedTimer m_lastAnnounce;
    static constexpr qint64 minimumGapMs = 500;
};
