#include "slots/continuityrecord.h"
#include "slots/movframecount.h"
#include "slots/recordwriter.h"

#include "tests/common/probe.h"
#include "tests/common/simnetwork.h"
#include "tests/common/testenv.h"

#include <QDir>
#include <QJsonDocument>
#include <QProcess>
#include <QStorageInfo>
#include <QTest>

#include <sys/mount.h>

// The record on real files: a full drive neither destroys it nor stops it being kept, a record that
// a killed run left open is ended at the next start, and the frames a file holds are read from it.
class TestContinuityRecord : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keptWhileItsDriveIsFull()
    {
        const QString drive = TestEnv::makeFolder(QStringLiteral("small-drive"));
        if (::mount("tmpfs", qPrintable(drive), "tmpfs", 0, "size=1m") != 0)
            QSKIP("mounting a small drive needs root");
        const auto unmount = qScopeGuard([&drive] { ::umount2(qPrintable(drive), MNT_DETACH); });
        ContinuityRecord record(QStringLiteral("HOST (Cam)"), 1);
        ContinuityRecord::Piece piece;
        piece.path = drive + QStringLiteral("/cam.mov");
        piece.frameRateN = 25;
        record.addPiece(piece);
        record.setProcessFrames(0, 100);
        QString kept = ContinuityRecord::store(record.filePath(), record.toJson(), {});
        QVERIFY(kept.isEmpty());

        QFile filler(drive + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        filler.write(QByteArray(1 << 20, 'x')), filler.close(); // as much as fits
        QCOMPARE(QStorageInfo(drive).bytesAvailable(), 0);
        record.setProcessFrames(0, 200);
        kept = ContinuityRecord::store(record.filePath(), record.toJson(), kept);
        QCOMPARE(kept, QDir(ContinuityRecord::keptFolder()).filePath(QStringLiteral("cam.recording.json")));
        // The copy beside the piece is the last good one; the new one is kept and listed.
        QCOMPARE(E2E::jsonFile(record.filePath())["frames"].toInt(), 100);
        QCOMPARE(E2E::jsonFile(kept)["frames"].toInt(), 200);
        QCOMPARE(ContinuityRecord::latest({}, 5).at(0)["record"].toString(), kept);

        QVERIFY(filler.remove());
        record.setProcessFrames(0, 300);
        QVERIFY(ContinuityRecord::store(record.filePath(), record.toJson(), kept).isEmpty() && !QFile::exists(kept));
        QCOMPARE(E2E::jsonFile(record.filePath())["frames"].toInt(), 300);
    }

    void staleRecordsEndAtTheNextStart()
    {
        const QString folder = TestEnv::makeFolder(QStringLiteral("stale"));
        const QByteArray open = R"({"frames": 208, "stopReason": null})";
        const QByteArray ended = R"({"frames": 50, "stopReason": "user", "stop": "2026-01-01T00:00:00"})";
        const QByteArray garbage = "{\"frames\": 2";
        for (const auto& [name, text] : { std::pair { "open", open }, { "ended", ended }, { "garbage", garbage } })
            NdiSim::writeText(text, folder + '/' + name + ".recording.json");
        const QDateTime lastWrite = QFileInfo(folder + "/open.recording.json").lastModified();
        QCOMPARE(ContinuityRecord::finishStale({ folder }, lastWrite), 0); // this run's own

        QCOMPARE(ContinuityRecord::finishStale({ folder, folder + "/" }, lastWrite.addMSecs(1)), 1);
        const QJsonObject finished = E2E::jsonFile(folder + "/open.recording.json");
        QCOMPARE((QStringList { finished["stopReason"].toString(), finished["stop"].toString(),
                     QString::number(finished["frames"].toInt()) }),
            (QStringList { "app ended", lastWrite.toString(Qt::ISODateWithMs), "208" }));
        QCOMPARE(E2E::jsonFile(folder + "/ended.recording.json"), QJsonDocument::fromJson(ended).object());
        QFile untouched(folder + "/garbage.recording.json");
        QVERIFY(untouched.open(QIODevice::ReadOnly) && untouched.readAll() == garbage);
    }

    // From the index and the fragments whose data is whole: 3 s at 25 frames a second, fragments of 1 s.
    void framesInTheFile()
    {
        const QString folder = TestEnv::makeFolder(QStringLiteral("frames"));
        const auto make = [&folder](const char* name, const QString& options) {
            const QString path = folder + '/' + name;
            E2E::run(QStringLiteral("ffmpeg"),
                "-v error -y -f lavfi -i testsrc=size=64x64:rate=25 -t 3 -c:v mpeg4 " + options + " FILE", path);
            return path;
        };
        const QString fragmented
            = make("fragmented.mov", "-movflags empty_moov+default_base_moof -frag_duration 1000000");
        QFile whole(fragmented), cut(folder + "/cut.mov"); // ends inside the last fragment's first frame
        QVERIFY(whole.open(QIODevice::ReadOnly) && QFile::copy(fragmented, cut.fileName())
            && cut.resize(whole.readAll().lastIndexOf("mdat") + 24));
        NdiSim::writeText("not a movie at all", folder + "/garbage.mov");
        const std::pair<QString, qint64> rows[] = { { fragmented, 75 }, { cut.fileName(), 50 },
            { make("plain.mov", "-f mov"), 75 }, { folder + "/garbage.mov", -1 }, { folder + "/missing.mov", -1 } };
        for (const auto& [path, frames] : rows)
            QCOMPARE(std::pair(path, MovFrameCount::videoFrames(path)), std::pair(path, frames));
    }

    // Written in the background: of many writes asked in a row the file holds the newest, the
    // listing catches up with it, and nothing is held for the record once it is written.
    void writtenInTheBackground()
    {
        const QString folder = TestEnv::makeFolder(QStringLiteral("background"));
        const QString path = folder + QStringLiteral("/r.recording.json");
        RecordWriter writer;
        for (int frames = 1; frames <= 50; ++frames)
            writer.write(path, { { "frames", frames }, { "stopReason", "user" } }, this, {});
        QTRY_VERIFY(writer.isIdle() && writer.listeners() == 0); // none kept for a long run's every piece
        QCOMPARE(E2E::jsonFile(path)["frames"].toInt(), 50);
        QTRY_COMPARE(writer.latest({ folder }).at(0)["frames"].toInt(), 50);
    }

    // A failed program's file has the last word on its piece, whether its own last count comes
    // before or after.
    void fileHasTheLastWord()
    {
        for (const bool fileFirst : { true, false }) {
            ContinuityRecord record(QStringLiteral("S"), 1);
            ContinuityRecord::Piece piece;
            piece.path = QStringLiteral("/x/s.mov");
            piece.frameRateN = 25;
            piece.generation = 1;
            record.addPiece(piece);
            if (fileFirst)
                record.setFramesInFile(piece.path, 80), record.setProcessFrames(1, 100);
            else
                record.setProcessFrames(1, 100), record.setFramesInFile(piece.path, 80);
            QCOMPARE(record.pieces().last().frames, 80);
        }
    }
};

QTEST_GUILESS_MAIN(TestContinuityRecord)
#include "tst_continuityrecord.moc"
