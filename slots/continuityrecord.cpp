#include "slots/continuityrecord.h"

#include "app/logger.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

namespace
{

const QString recordSuffix = QStringLiteral(".recording.json");

} // namespace

double ContinuityRecord::Piece::seconds() const
{
    return frameRateN > 0 ? double(frames) * frameRateD / frameRateN : 0.0;
}

ContinuityRecord::ContinuityRecord(QString source, int slot)
    : m_source(std::move(source))
    , m_slot(slot)
{
}

void ContinuityRecord::addPiece(Piece piece)
{
    piece.gapFrames = 0;
    if (!m_pieces.isEmpty() && m_pieces.last().generation != piece.generation && piece.frameRateN > 0) {
        const Piece& previous = m_pieces.last();
        const double endMs = double(previous.startMs) + previous.seconds() * 1000.0;
        const double lostMs = double(piece.startMs) - endMs;
        piece.gapFrames
            = std::max<qint64>(0, qint64(std::llround(lostMs * piece.frameRateN / piece.frameRateD / 1000.0)));
    }
    m_pieces.append(std::move(piece));
}

bool ContinuityRecord::setProcessFrames(int generation, qint64 frames, qint64 timecode)
{
    for (auto it = m_pieces.rbegin(); it != m_pieces.rend(); ++it) {
        if (it->generation != generation)
            continue;
        qint64 added = std::max<qint64>(0, frames - it->processFramesAtStart);
        if (it->framesInFile >= 0)
            added = std::min(added, it->framesInFile);
        const qint64 previous = it->frames;
        bool changed = added != previous;
        it->frames = added;
        if (timecode > 0 && it->firstTimecode < 0) {
            it->firstTimecode = it->lastTimecode = timecode;
            it->firstTimecodeFrames = added;
        } else if (timecode > it->lastTimecode && it->firstTimecode >= 0) {
            // A step far longer than the frames written since is the source's clock jumping, not loss.
            const qint64 written = qint64((added - previous) / std::max(1.0, it->frameRate()) * 1e7);
            if (timecode - it->lastTimecode > written + qint64(fileTimeLeadSeconds) * 10000000)
                it->firstTimecode += timecode - it->lastTimecode - written;
            it->lastTimecode = timecode;
            changed = true;
        }
        return changed;
    }
    return false;
}

bool ContinuityRecord::setFramesInFile(const QString& path, qint64 frames)
{
    for (auto it = m_pieces.rbegin(); it != m_pieces.rend(); ++it) {
        if (it->path != path)
            continue;
        it->framesInFile = frames;
        if (it->frames <= frames)
            return false;
        it->frames = frames;
        return true;
    }
    return false;
}

void ContinuityRecord::finish(const QString& stopReason)
{
    m_stopReason = stopReason;
    m_stop = QDateTime::currentDateTime();
}

std::pair<double, double> ContinuityRecord::sentFramesBoth(int piece) const
{
    const Piece& p = m_pieces.at(piece);
    const qint64 end = piece + 1 < m_pieces.size() ? m_pieces.at(piece + 1).startMs : m_coveredUntil;
    const double byClock = std::max<qint64>(0, end - p.startMs) * p.frameRate() / 1000.0;
    const double byFile = p.firstTimecode < 0
        ? 0.0
        : double(p.firstTimecodeFrames) + double(p.lastTimecode - p.firstTimecode) * p.frameRate() / 1e7;
    // A source's time that runs fast must not invent losses: the file's time reaches a few seconds
    // past the clock's (the reports' lag), no further.
    return { byClock, p.firstTimecode < 0 ? byClock : std::min(byFile, byClock + p.frameRate() * fileTimeLeadSeconds) };
}

double ContinuityRecord::sentFrames(int piece) const
{
    const auto [byClock, byFile] = sentFramesBoth(piece);
    return std::max(byClock, byFile);
}

double ContinuityRecord::sentFrames() const
{
    // Summed apart: a split heard late gives one piece's frames to the clock of the piece before,
    // and the file's time of the piece after would count them again.
    double byClock = 0.0, byFile = 0.0;
    for (int i = 0; i < m_pieces.size(); ++i) {
        const auto [clock, file] = sentFramesBoth(i);
        byClock += clock;
        byFile += file;
    }
    return std::max(byClock, byFile);
}

qint64 ContinuityRecord::droppedFrames(int piece) const
{
    return std::max<qint64>(0, qint64(std::floor(sentFrames(piece))) - m_pieces.at(piece).frames);
}

qint64 ContinuityRecord::droppedFrames() const
{
    // Over the whole: a piece boundary seen late moves frames between pieces, not out of the record.
    return std::max<qint64>(0, qint64(std::floor(sentFrames())) - totalFrames());
}

void ContinuityRecord::markWritten(qint64 ms, bool written)
{
    if (written)
        m_writtenAt = ms;
}

bool ContinuityRecord::hasGeneration(int generation) const
{
    return std::any_of(m_pieces.cbegin(), m_pieces.cend(),
        [generation](const Piece& piece) { return piece.generation == generation; });
}

qint64 ContinuityRecord::totalFrames() const
{
    qint64 total = 0;
    for (const Piece& piece : m_pieces)
        total += piece.frames;
    return total;
}

QString ContinuityRecord::filePath() const
{
    return m_pieces.isEmpty() ? QString() : recordPathFor(m_pieces.first().path);
}

QString ContinuityRecord::recordPathFor(const QString& firstPiece)
{
    const QFileInfo info(firstPiece);
    return info.dir().filePath(info.completeBaseName() + recordSuffix);
}

QJsonObject ContinuityRecord::toJson() const
{
    QJsonArray pieces;
    qint64 gaps = 0;
    for (int i = 0; i < m_pieces.size(); ++i) {
        const Piece& piece = m_pieces.at(i);
        gaps += piece.gapFrames;
        QJsonObject entry {
            { QStringLiteral("path"), piece.path },
            { QStringLiteral("start"), piece.start.toString(Qt::ISODateWithMs) },
            { QStringLiteral("frames"), double(piece.frames) },
            { QStringLiteral("duration"), std::round(piece.seconds() * 1000.0) / 1000.0 },
            { QStringLiteral("frameRate"), QStringLiteral("%1/%2").arg(piece.frameRateN).arg(piece.frameRateD) },
            { QStringLiteral("location"), piece.location },
            { QStringLiteral("reason"), piece.reason },
            { QStringLiteral("gapFrames"), double(piece.gapFrames) },
            { QStringLiteral("droppedFrames"), double(droppedFrames(i)) },
        };
        if (piece.firstFrameTime >= 0)
            entry.insert(QStringLiteral("firstFrameTime"), double(piece.firstFrameTime));
        if (piece.size.isValid()) {
            entry.insert(QStringLiteral("width"), piece.size.width());
            entry.insert(QStringLiteral("height"), piece.size.height());
        }
        pieces.append(entry);
    }
    QJsonObject record {
        { QStringLiteral("source"), m_source },
        { QStringLiteral("slot"), m_slot },
        { QStringLiteral("start"),
            m_pieces.isEmpty() ? QString() : m_pieces.first().start.toString(Qt::ISODateWithMs) },
        { QStringLiteral("frames"), double(totalFrames()) },
        { QStringLiteral("gapFrames"), double(gaps) },
        { QStringLiteral("droppedFrames"), double(droppedFrames()) },
        { QStringLiteral("pieces"), pieces },
        { QStringLiteral("stopReason"), m_stopReason.isEmpty() ? QJsonValue() : QJsonValue(m_stopReason) },
    };
    if (m_stop.isValid())
        record.insert(QStringLiteral("stop"), m_stop.toString(Qt::ISODateWithMs));
    return record;
}

namespace
{

bool save(const QString& path, const QJsonObject& record, QString* error)
{
    // Unbuffered: a buffered write that fails on a full drive is not noticed by the commit, which
    // would then put an empty file in place of the last good copy.
    const QByteArray text = QJsonDocument(record).toJson(QJsonDocument::Indented);
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(text) == text.size() && file.commit())
        return true;
    *error = file.errorString();
    return false;
}

// The records in the folders and those kept for a full drive, each folder once.
QList<QFileInfo> recordFiles(const QStringList& folders)
{
    QList<QFileInfo> files;
    QStringList seen;
    for (const QString& folder : folders + QStringList { ContinuityRecord::keptFolder() }) {
        const QString absolute = QDir(folder).absolutePath();
        if (folder.isEmpty() || seen.contains(absolute))
            continue;
        seen.append(absolute);
        files += QDir(absolute).entryInfoList({ QLatin1Char('*') + recordSuffix }, QDir::Files);
    }
    return files;
}

// Empty when it is not a record.
QJsonObject read(const QFileInfo& info)
{
    QFile file(info.filePath());
    if (info.size() > 1 << 20 || !file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace

QString ContinuityRecord::store(const QString& path, const QJsonObject& record, const QString& keptBefore)
{
    QString error;
    if (save(path, record, &error)) {
        // Back beside its pieces: the kept copy would only be a stale double.
        if (!keptBefore.isEmpty() && QFile::remove(keptBefore))
            Logger::write(QStringLiteral("The recording record %1 is written beside its pieces again").arg(path));
        return {};
    }
    const QString kept = QDir(keptFolder()).filePath(QFileInfo(path).fileName());
    QString keptError;
    if (QDir().mkpath(keptFolder()) && save(kept, record, &keptError)) {
        if (keptBefore.isEmpty())
            Logger::write(QStringLiteral("Cannot write the recording record %1 (%2); it is kept in %3 meanwhile")
                              .arg(path, error, kept));
        return kept;
    }
    Logger::write(QStringLiteral("Cannot write the recording record %1: %2").arg(path, error));
    return keptBefore;
}

QString ContinuityRecord::keptFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/records");
}

int ContinuityRecord::finishStale(const QStringList& folders, const QDateTime& before)
{
    int finished = 0;
    for (const QFileInfo& info : recordFiles(folders)) {
        if (info.lastModified() >= before)
            continue;
        QJsonObject record = read(info);
        if (record.isEmpty() || !record.value(QStringLiteral("stopReason")).isNull())
            continue;
        record.insert(QStringLiteral("stopReason"), QStringLiteral("app ended"));
        record.insert(QStringLiteral("stop"), info.lastModified().toString(Qt::ISODateWithMs));
        QString error;
        if (save(info.filePath(), record, &error))
            ++finished;
        else
            Logger::write(QStringLiteral("Cannot finish the recording record %1: %2").arg(info.filePath(), error));
    }
    return finished;
}

QJsonArray ContinuityRecord::latest(const QStringList& folders, int max)
{
    QList<QFileInfo> files = recordFiles(folders);
    // The name starts with the source and ends with the start time; the time of the last write
    // orders records across sources.
    std::sort(files.begin(), files.end(),
        [](const QFileInfo& a, const QFileInfo& b) { return a.lastModified() > b.lastModified(); });
    QJsonArray records;
    for (const QFileInfo& info : files) {
        if (records.size() >= max)
            break;
        QJsonObject record = read(info);
        if (record.isEmpty())
            continue;
        record.insert(QStringLiteral("record"), info.filePath());
        records.append(record);
    }
    return records;
}
