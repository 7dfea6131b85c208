#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

#include <utility>

// One recording from its start to its stop, across splits, moves between locations, format
// changes and replaced processes: each piece with its frames and the frames lost before it. Kept
// as a small JSON file next to the first piece, rewritten whenever it changes.
class ContinuityRecord
{
public:
    struct Piece {
        QString path;
        QDateTime start;
        qint64 startMs = 0; // monotonic
        int generation = 0; // the process that writes it
        qint64 processFramesAtStart = 0;
        qint64 frames = 0;
        qint64 framesInFile = -1; // read from the file of a program that failed; no count goes above it
        int frameRateN = 0;
        int frameRateD = 1;
        QSize size; // invalid when the program does not say
        QString location; // "A" or "B"
        QString reason; // "start", "split", "location", "format", "recovery"
        qint64 gapFrames = 0;
        // The source's time of the piece's first frame, 100 ns units; -1 when the program does not say.
        qint64 firstFrameTime = -1;
        // The file's time as the program reports it (100 ns): at its first report with the frames
        // then, and at its newest. -1 while none has said.
        qint64 firstTimecode = -1;
        qint64 firstTimecodeFrames = 0;
        qint64 lastTimecode = -1;

        double seconds() const;
        double frameRate() const { return frameRateN > 0 ? double(frameRateN) / frameRateD : 0.0; }
    };

    ContinuityRecord(QString source, int slot);
    static constexpr int fileTimeLeadSeconds = 3;

    // A piece written by a process that already wrote the previous one follows it without a gap;
    // one by another process follows after the time between the end of the previous piece and
    // its start.
    void addPiece(Piece piece);
    // The process's own frame count, and the file time it has reached (100 ns, 0 when it does not
    // say): the newest piece of that process gets what it added.
    bool setProcessFrames(int generation, qint64 frames, qint64 timecode = 0);
    // What the file of a program that crashed or stopped writing holds, read from the file: the
    // piece keeps no more, whenever the program's own last count comes.
    bool setFramesInFile(const QString& path, qint64 frames);
    void finish(const QString& stopReason);

    // The monotonic time the record accounts for: now while recording, the stop after it.
    void setCoveredUntil(qint64 ms) { m_coveredUntil = ms; }
    // Frames the source sent from the first piece's start until then: each piece lasts until the
    // next one starts, at its own rate; or, where more, as long as its file's time, which holds the
    // frames written before the start was heard of and after the stop was asked.
    double sentFrames() const;
    // What the source sent while the piece was current that no piece holds.
    qint64 droppedFrames(int piece) const;
    qint64 droppedFrames() const;
    void markWritten(qint64 ms, bool written);
    qint64 writtenAt() const { return m_writtenAt; }

    bool isFinished() const { return !m_stopReason.isEmpty(); }
    bool hasGeneration(int generation) const;
    const QList<Piece>& pieces() const { return m_pieces; }
    qint64 totalFrames() const;
    QString filePath() const;
    QJsonObject toJson() const;
    // Writes a record to path, replacing the file in one step so that a failed write leaves the
    // last good copy. Where it cannot be written (a full drive) it is kept in keptFolder(), and
    // the kept copy goes once it is written beside its pieces again. Returns where it is kept now
    // (keptBefore when neither could be written, with a log line); empty while beside its pieces.
    // Any thread.
    static QString store(const QString& path, const QJsonObject& record, const QString& keptBefore);

    static QString recordPathFor(const QString& firstPiece);
    static QString keptFolder();
    // The newest records (by start) found in the folders, at most max.
    static QJsonArray latest(const QStringList& folders, int max);
    // Records in the folders that a previous run left open (last written before) end with
    // "app ended" at their last write; returns how many.
    static int finishStale(const QStringList& folders, const QDateTime& before);

private:
    QString m_source;
    int m_slot = 0;
    QList<Piece> m_pieces;
    QString m_stopReason;
    QDateTime m_stop;
    qint64 m_coveredUntil = 0;
    qint64 m_writtenAt = 0;

    double sentFrames(int piece) const;
    // By the clock, and by the file's time where the program says it.
    std::pair<double, double> sentFramesBoth(int piece) const;
};
