// The simulated NDI runtime, through its C interface only.
#include "tests/common/simnetwork.h"

#include <Processing.NDI.Lib.h>

#include <QElapsedTimer>
#include <QTest>

#include <memory>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace NdiSim;

class TestNdiRuntime : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        use({ source("PACE", QJsonValue::Null, tone(0.5)) });
        QVERIFY(NDIlib_initialize());
    }

    // Capture blocks until sound is due: 48000 samples a second without gaps. The pictures' pace
    // shows in the frame counts of the slots' recordings; metadata reach the receiver's tally.
    void captureRunsAtRealTimePace()
    {
        NDIlib_recv_create_v3_t settings {};
        settings.source_to_connect_to.p_ndi_name = "PACE";
        const std::unique_ptr<NDIlib_recv_instance_type, void (*)(NDIlib_recv_instance_t)> r(
            NDIlib_recv_create_v3(&settings), NDIlib_recv_destroy);
        QElapsedTimer timer;
        qint64 samples = 0, next = -1;
        for (timer.start(); timer.elapsed() < 1200;) {
            NDIlib_audio_frame_v2_t audio;
            if (NDIlib_recv_capture_v2(r.get(), nullptr, &audio, nullptr, 1000) != NDIlib_frame_type_audio)
                continue;
            QVERIFY(next < 0 || audio.timecode == next); // 100 ns units
            next = audio.timecode + qint64(audio.no_samples) * 10000000 / 48000;
            samples += audio.no_samples;
            NDIlib_recv_free_audio_v2(r.get(), &audio);
        }
        const double seconds = timer.elapsed() / 1000.0; // a little less only where load held the thread
        QVERIFY2(samples <= seconds * 48000 + 1920 && samples >= seconds * 48000 - 9600,
            qPrintable(QString::number(samples)));
    }

    // Each problem of a sources file is reported once on stderr, although the file is looked at often;
    // a broken file empties the network. Last: it takes the sources away.
    void badFilesAreReportedOnce_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file at all
        QTest::addColumn<int>("sources");
        QTest::addColumn<QString>("report");
        QTest::addRow("missing file") << QByteArray() << 0 << "cannot read";
        QTest::addRow("not JSON") << QByteArray("{\"sources\": [") << 0 << "not valid JSON";
        QTest::addRow("bad source left out")
            << QByteArray(R"({"sources": [{"name": "odd", "video": {"width": 101, "height": 10}},
            {"name": "fine", "video": null}]})")
            << 1 << "source 1 left out: a UYVY picture needs an even width";
        QTest::addRow("nameless source") << QByteArray(R"({"sources": [{"video": null}]})") << 0
                                         << "source 1 left out: a source needs a non-empty \"name\"";
    }

    void badFilesAreReportedOnce()
    {
        QFETCH(QByteArray, content);
        const QByteArray log = (TestEnv::root() + "/stderr-" + QTest::currentDataTag()).toLocal8Bit();
        const int saved = ::dup(2), file = ::open(log.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(file, 2);
        content.isNull() ? void(QFile::remove(path())) : writeText(content);
        NDIlib_find_instance_t finder = NDIlib_find_create_v2(nullptr);
        uint32_t count = 0;
        QElapsedTimer timer;
        for (timer.start(); timer.elapsed() < 1000;)
            NDIlib_find_wait_for_sources(finder, 100), NDIlib_find_get_current_sources(finder, &count);
        NDIlib_find_destroy(finder);
        ::dup2(saved, 2), ::close(saved), ::close(file);
        QTEST(int(count), "sources");
        QFile errors(QString::fromLocal8Bit(log));
        QVERIFY(errors.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromLocal8Bit(errors.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QFETCH(QString, report);
        QVERIFY2(lines.first().contains(report), qPrintable(lines.first()));
    }

    // A file that cannot be read for a while (no descriptor free) leaves the network as it was.
    void momentarilyUnreadableFileKeepsSources()
    {
        use({ source("STAYS", QJsonValue::Null, tone(0.5)) });
        NDIlib_find_instance_t finder = NDIlib_find_create_v2(nullptr);
        uint32_t seen[2] = {};
        rlimit saved {}, none {};
        ::getrlimit(RLIMIT_NOFILE, &saved), none.rlim_max = saved.rlim_max;
        for (uint32_t& count : seen) {
            QElapsedTimer timer;
            for (timer.start(); timer.elapsed() < 500;)
                NDIlib_find_wait_for_sources(finder, 100), NDIlib_find_get_current_sources(finder, &count);
            ::setrlimit(RLIMIT_NOFILE, &none); // for the second look
        }
        ::setrlimit(RLIMIT_NOFILE, &saved);
        NDIlib_find_destroy(finder);
        QCOMPARE(QList<uint32_t>(std::begin(seen), std::end(seen)), QList<uint32_t>({ 1, 1 }));
    }
};

QTEST_GUILESS_MAIN(TestNdiRuntime)
#include "tst_ndiruntime.moc"
