#include "tests/common/testenv.h"
#include "tests/ndi/recorderrun.h"

#include "mediaqueue.h"
#include "recordingsession.h"
#include "reportwriter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QTest>

#include <cstdio>
#include <thread>

// The recording program's writer side, fed by hand: when writing begins, how it falls back when
// it cannot keep up, and what it says when the source goes quiet.
class TestRecordingSession : public QObject
{
    Q_OBJECT

private:
    struct Run {
        std::FILE* out = std::tmpfile();
        ReportWriter reports { out };
        std::atomic<bool> wantMedia { false };
        MediaQueue queue;

        ~Run() { std::fclose(out); }

        QList<QByteArray> lines()
        {
            std::fflush(out);
            std::rewind(out);
            QByteArray all;
            char buffer[4096];
            size_t got;
            while ((got = std::fread(buffer, 1, sizeof buffer, out)) > 0)
                all.append(buffer, qsizetype(got));
            std::fseek(out, 0, SEEK_END);
            QList<QByteArray> result = all.split('\n');
            result.removeAll(QByteArray());
            return result;
        }
    };

    static VideoItem video(bool withData = true)
    {
        VideoItem item;
        item.width = 64;
        item.height = 36;
        item.stride = 128;
        item.frameRateN = 25;
        item.frameRateD = 1;
        if (withData)
            item.data.assign(size_t(item.stride * item.height), 0x80);
        return item;
    }

    static AudioItem audio(bool withData = true)
    {
        AudioItem item;
        item.samples = 1920;
        if (withData)
            item.planar.assign(size_t(item.samples * item.channels), 0.25f);
        return item;
    }

    static QStringList names(const QList<QByteArray>& lines)
    {
        QStringList result;
        for (const QByteArray& line : lines) {
            const QString name = RecorderRun::elementName(line);
            if (name != QLatin1String("recording"))
                result << name;
        }
        return result;
    }

    static RecordingSession::Settings settings(const QString& path, bool autostart)
    {
        RecordingSession::Settings s;
        s.sourceName = "Test Source";
        s.outputPath = path.toStdString();
        s.preview = false;
        s.autostart = autostart;
        return s;
    }

private Q_SLOTS:
    // The file format needs both streams: no file before the source has sent audio and video.
    void writingWaitsForBothStreams()
    {
        const QString path = TestEnv::makeFolder(QStringLiteral("both")) + QStringLiteral("/both.mov");
        Run run;
        RecordingSession session(settings(path, false), run.reports, run.wantMedia);
        QVERIFY(!run.wantMedia);
        run.queue.push(video(false));
        run.queue.push(RecorderCommand::parse("<start/>"));
        run.queue.push(video()); // no audio seen yet: not written
        run.queue.push(audio());
        run.queue.push(video());
        run.queue.push(audio());
        run.queue.push(video());
        run.queue.push(RecorderCommand::parse("<quit/>"));
        session.run(run.queue);
        QCOMPARE(names(run.lines()), (QStringList { "record_started", "record_stopped" }));
        QCOMPARE(RecorderRun::attributes(run.lines().last()).value(QStringLiteral("no_frames")), QStringLiteral("2"));
        const QJsonObject probe = RecorderRun::probe(path);
        QCOMPARE(probe.value(QStringLiteral("video")).toObject().value(QStringLiteral("nb_read_frames")).toString(),
            QStringLiteral("2"));
    }

    // Frames carry their data only from the start request on; an end without frames leaves no file.
    void startAsksForFrameData()
    {
        Run run;
        const QString path = TestEnv::root() + QStringLiteral("/never.mov");
        RecordingSession session(settings(path, false), run.reports, run.wantMedia);
        std::thread writer([&] { session.run(run.queue); });
        QVERIFY(!run.wantMedia);
        run.queue.push(RecorderCommand::parse("<start/>"));
        QTRY_VERIFY(run.wantMedia);
        run.queue.push(EndOfInput {});
        writer.join();
        QVERIFY(!run.wantMedia);
        QCOMPARE(names(run.lines()), QStringList());
        QVERIFY(!QFileInfo::exists(path));
    }

    // Frames that waited longer than the limit are dropped together with the whole backlog, and
    // the program says so; frames after that are written again.
    void dropsTheBacklogWhenBehind()
    {
        const QString path = TestEnv::makeFolder(QStringLiteral("behind")) + QStringLiteral("/behind.mov");
        Run run;
        RecordingSession::Settings s = settings(path, true);
        s.delayLimit = std::chrono::milliseconds(300);
        RecordingSession session(s, run.reports, run.wantMedia);
        // A backlog that is already old when the writer gets to it: the first frame opens the
        // file, the rest waited too long.
        run.queue.push(audio());
        run.queue.push(video());
        for (int i = 0; i < 5; ++i) {
            run.queue.push(video());
            run.queue.push(audio());
        }
        run.queue.push(RecorderCommand::parse("<record_level gain=\"-6\"/>"));
        QElapsedTimer age;
        age.start();
        QTRY_VERIFY(age.hasExpired(400));

        std::thread writer([&] { session.run(run.queue); });
        QTRY_VERIFY(names(run.lines()).contains(QStringLiteral("record_delayed")));
        QCOMPARE(run.queue.size(), size_t(0)); // the command was taken, the media dropped
        for (int i = 0; i < 2; ++i) {
            run.queue.push(video());
            run.queue.push(audio());
        }
        run.queue.push(RecorderCommand::parse("<quit/>"));
        writer.join();

        const QList<QByteArray> lines = run.lines();
        QCOMPARE(names(lines), (QStringList { "record_started", "record_delayed", "record_stopped" }));
        bool found = false;
        for (const QByteArray& line : lines) {
            if (RecorderRun::elementName(line) == QLatin1String("record_delayed")) {
                QVERIFY(line.contains("Something delayed everything."));
                QCOMPARE(RecorderRun::attributes(line).value(QStringLiteral("dropped_frames")), QStringLiteral("5"));
                found = true;
            }
        }
        QVERIFY(found);
        QCOMPARE(RecorderRun::attributes(lines.last()).value(QStringLiteral("no_frames")), QStringLiteral("3"));
        const QJsonObject probe = RecorderRun::probe(path);
        QCOMPARE(probe.value(QStringLiteral("video")).toObject().value(QStringLiteral("nb_read_frames")).toString(),
            QStringLiteral("3"));
        // The level command was not dropped with the media: the fresh audio came out 6 dB down.
        QVERIFY(qAbs(RecorderRun::audioPeakDb(path) - (20.0 * std::log10(0.25) - 6.0)) < 0.1);
    }

    void reportsASilentSource_data()
    {
        QTest::addColumn<bool>("recording");
        QTest::addRow("while recording") << true;
        QTest::addRow("when a start comes later") << false;
    }

    void reportsASilentSource()
    {
        QFETCH(bool, recording);
        Run run;
        RecordingSession session(
            settings(TestEnv::root() + QStringLiteral("/silent.mov"), recording), run.reports, run.wantMedia);
        run.queue.push(SourceState { true });
        run.queue.push(RecorderCommand::parse("<start/>"));
        run.queue.push(SourceState { false });
        run.queue.push(RecorderCommand::parse("<start/>"));
        run.queue.push(RecorderCommand::parse("<quit/>"));
        session.run(run.queue);
        const QList<QByteArray> lines = run.lines();
        QCOMPARE(names(lines), QStringList { "record_error" });
        QCOMPARE(RecorderRun::attributes(lines.first()).value(QStringLiteral("error")),
            QStringLiteral("Source Test Source sends no video"));
    }
};

QTEST_GUILESS_MAIN(TestRecordingSession)
#include "tst_recordingsession.moc"
