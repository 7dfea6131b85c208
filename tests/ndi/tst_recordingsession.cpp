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
#include <numeric>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

// The recording program's writer side, fed by hand: when writing begins, how it falls back when
// it cannot keep up, what it says when the source goes quiet, and how its reports wait for a
// reader that does not read.
class TestRecordingSession : public QObject
{
    Q_OBJECT

private:
    struct TemporaryFile {
        std::FILE* file = std::tmpfile();
        ~TemporaryFile() { std::fclose(file); }
    };

    struct Run {
        TemporaryFile out; // outlives the writer's thread
        ReportWriter reports { fileno(out.file) };
        std::atomic<bool> wantMedia { false };
        MediaQueue queue;

        QList<QByteArray> lines()
        {
            reports.flush(std::chrono::seconds(10));
            // At an offset of its own: the writer's thread may be appending meanwhile.
            QByteArray all;
            char buffer[4096];
            ssize_t got;
            while ((got = ::pread(fileno(out.file), buffer, sizeof buffer, off_t(all.size()))) > 0)
                all.append(buffer, qsizetype(got));
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

    // Whether `part` appears within `whole` in the same order.
    static bool inOrder(const QByteArrayList& part, const QByteArrayList& whole)
    {
        qsizetype at = 0;
        for (const QByteArray& line : part) {
            while (at < whole.size() && whole.at(at) != line)
                ++at;
            if (at++ >= whole.size())
                return false;
        }
        return true;
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
    // The file format wants both streams: writing waits for the source's first audio, but not for
    // ever; audio that comes after all starts a new file with it.
    void writingWaitsForTheAudio_data()
    {
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<QList<int>>("pieces"); // frames in each file
        QTest::addColumn<bool>("firstHasAudio");
        QTest::addRow("audio in time") << 60000 << QList<int> { 2 } << true;
        QTest::addRow("audio too late") << 0 << QList<int> { 1, 2 } << false;
    }

    void writingWaitsForTheAudio()
    {
        QFETCH(int, waitMs);
        QFETCH(QList<int>, pieces);
        QFETCH(bool, firstHasAudio);
        const QString path
            = TestEnv::makeFolder(QStringLiteral("both-") + QString::number(waitMs)) + QStringLiteral("/both.mov");
        Run run;
        RecordingSession::Settings s = settings(path, false);
        s.audioWait = std::chrono::milliseconds(waitMs);
        RecordingSession session(s, run.reports, run.wantMedia);
        QVERIFY(!run.wantMedia);
        run.queue.push(video(false));
        run.queue.push(RecorderCommand::parse("<start/>"));
        run.queue.push(video()); // no audio seen yet
        run.queue.push(audio());
        run.queue.push(video());
        run.queue.push(audio());
        run.queue.push(video());
        run.queue.push(RecorderCommand::parse("<quit/>"));
        session.run(run.queue);

        const QList<QByteArray> lines = run.lines();
        QStringList expected(pieces.size(), QStringLiteral("record_started"));
        QCOMPARE(names(lines), expected << QStringLiteral("record_stopped"));
        QCOMPARE(RecorderRun::attributes(lines.last()).value(QStringLiteral("no_frames")).toInt(),
            std::accumulate(pieces.begin(), pieces.end(), 0));
        int piece = 0;
        for (const QByteArray& line : lines) {
            if (RecorderRun::elementName(line) != QLatin1String("record_started"))
                continue;
            const auto started = RecorderRun::attributes(line);
            QCOMPARE(started.value(QStringLiteral("reason")), piece == 0 ? QString() : QStringLiteral("format"));
            const QJsonObject probe = RecorderRun::probe(started.value(QStringLiteral("filename")));
            QCOMPARE(probe.value(QStringLiteral("video")).toObject().value(QStringLiteral("nb_read_frames")).toString(),
                QString::number(pieces.at(piece)));
            QCOMPARE(probe.contains(QStringLiteral("audio")), piece > 0 || firstHasAudio);
            ++piece;
        }
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

    // Reports wait while nobody reads them; past the limits progress reports make way first, and
    // the newest lines stay.
    void reportsWaitWhileNobodyReads_data()
    {
        QTest::addColumn<int>("lineLimit");
        QTest::addColumn<int>("progressLimit");
        QTest::addColumn<QByteArrayList>("sent");
        QTest::addColumn<QByteArrayList>("mustArrive"); // in this order
        const auto progress = [](int n) {
            return "<recording no_frames=\"" + QByteArray::number(n) + "\" timecode=\"0\" vu_dB=\"-100.0\"/>";
        };
        const auto error = [](int n) { return "<record_error error=\"" + QByteArray::number(n) + "\"/>"; };
        QByteArrayList sent { "<record_started filename=\"a.mov\"/>" };
        for (int i = 1; i <= 80; ++i) {
            sent << progress(i);
            if (i == 40)
                sent << error(0);
        }
        QTest::addRow("progress beyond its limit")
            << 100 << 4 << sent << QByteArrayList { sent.first(), error(0), progress(80) };
        sent = { progress(1) };
        QByteArrayList newest;
        for (int i = 1; i <= 30; ++i) {
            sent << error(i);
            if (i > 30 - 8)
                newest << error(i);
        }
        QTest::addRow("more lines than the limit") << 8 << 4 << sent << newest;
    }

    void reportsWaitWhileNobodyReads()
    {
        QFETCH(int, lineLimit);
        QFETCH(int, progressLimit);
        QFETCH(QByteArrayList, sent);
        QFETCH(QByteArrayList, mustArrive);
        int pipe[2];
        QCOMPARE(::pipe2(pipe, O_CLOEXEC), 0);
        // Full from the start, as if the reader had stopped long ago.
        QCOMPARE(::fcntl(pipe[1], F_SETFL, O_NONBLOCK), 0);
        while (::write(pipe[1], "\n", 1) == 1) { }
        QByteArray all;
        bool flushed = false;
        std::thread reader;
        {
            ReportWriter reports(pipe[1], ReportWriter::Limits { size_t(lineLimit), size_t(progressLimit) });
            for (const QByteArray& line : std::as_const(sent))
                reports.line(line.toStdString());
            reader = std::thread([&] {
                char buffer[4096];
                ssize_t got;
                while ((got = ::read(pipe[0], buffer, sizeof buffer)) > 0)
                    all.append(buffer, qsizetype(got));
            });
            flushed = reports.flush(std::chrono::seconds(10));
        }
        ::close(pipe[1]);
        reader.join();
        ::close(pipe[0]);
        QVERIFY(flushed);
        all.remove(0, all.indexOf('<'));
        QVERIFY(all.endsWith('\n'));
        const QByteArrayList arrived = all.chopped(1).split('\n');
        QVERIFY2(inOrder(arrived, sent), all.constData());
        QVERIFY2(inOrder(mustArrive, arrived), all.constData());
        // Some may have been on their way before the limits applied, but never more than the limits.
        QVERIFY2(arrived.size() <= 2 * lineLimit, all.constData());
        QVERIFY2(std::count_if(arrived.begin(), arrived.end(),
                     [](const QByteArray& line) { return line.startsWith("<recording "); })
                <= 2 * progressLimit,
            all.constData());
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
