#pragma once

#include "slots/recordingstatemachine.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

// What a slot's recording is doing right now, as the grid item and both servers read it: a view of
// the slot's recording state machine. Changes are announced at most twice a second, the first of a
// quiet spell at once. Main thread only.
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
    // Wall-clock time since the start, and the frames lost against what the source sent.
    Q_PROPERTY(double wallMs READ wallMsDouble NOTIFY changed)
    Q_PROPERTY(QString wallText READ wallText NOTIFY changed)
    Q_PROPERTY(double droppedFrames READ droppedFramesDouble NOTIFY changed)

public:
    using State = RecordingStateMachine::State;

    explicit RecordingTelemetry(const RecordingStateMachine* machine, QObject* parent = nullptr);

    // "idle", "waiting", "recording", "stalled" or "failed": the words remote clients already know
    // (dropping and no signal are recording).
    QString state() const;
    State stateValue() const { return m_machine->state(); }
    qint64 elapsedMs() const { return m_machine->recordedMs(); }
    QString elapsedText() const { return clockText(elapsedMs()); }
    qint64 wallMs() const { return m_machine->wallMs(); }
    QString wallText() const { return clockText(wallMs()); }
    qint64 pieceFrames() const { return m_machine->pieceFrames(); }
    qint64 totalFrames() const { return m_machine->totalFrames(); }
    qint64 droppedFrames() const { return m_machine->droppedFrames(); }
    QString filePath() const { return m_machine->piecePath(); }
    QString fileName() const;
    int piece() const { return m_machine->pieceNumber(); }
    QString location() const { return m_machine->pieceLocation(); }
    int delayedCount() const { return m_machine->delayedCount(); }
    qint64 bytesWritten() const { return m_bytesWritten; }
    QString warning() const { return m_machine->warning(); }

    // hh:mm:ss, hours going past 99 when they must.
    static QString clockText(qint64 ms);

public Q_SLOTS:
    // Something shown may have changed: announced at once, or as soon as the pace allows.
    void refresh();

Q_SIGNALS:
    void changed();

private:
    void announce();
    double elapsedMsDouble() const { return double(elapsedMs()); }
    double wallMsDouble() const { return double(wallMs()); }
    double pieceFramesDouble() const { return double(pieceFrames()); }
    double totalFramesDouble() const { return double(totalFrames()); }
    double droppedFramesDouble() const { return double(droppedFrames()); }
    double bytesWrittenDouble() const { return double(m_bytesWritten); }

    const RecordingStateMachine* const m_machine;
    qint64 m_bytesWritten = 0;
    QTimer m_announce;
    QElapsedTimer m_lastAnnounce;
    static constexpr qint64 minimumGapMs = 500;
};
