// The slot receiver against the simulated network, with real capture, pool and pulling threads.
#include "ndi/defaultsamplerate.h"
#include "ndi/ndifind.h"
#include "ndi/ndireceiver.h"
#include "tests/common/simnetwork.h"

#include <QCoreApplication>
#include <QPointer>
#include <QProcess>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include <atomic>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <thread>

using namespace NdiSim;

namespace
{

// Records what a receiver reports, on the main thread, as the slot does (queued connections).
class Reports : public QObject
{
    Q_OBJECT
public:
    explicit Reports(Receiver* receiver)
    {
        connect(
            receiver, &Receiver::tallyUpdated, this, [this](int tally) { tallies << tally; }, Qt::QueuedConnection);
        connect(
            receiver, &Receiver::vuUpdated, this, [this](int l, int r) { levels << qMakePair(l, r); },
            Qt::QueuedConnection);
        connect(
            receiver, &QObject::destroyed, this,
            [this] {
                levels << qMakePair(0, 0);
                destroyed = true;
            },
            Qt::QueuedConnection);
    }
    QList<int> tallies;
    QList<QPair<int, int>> levels; // (0, 0) marks the destruction
    bool destroyed = false;
};

QJsonObject withMetadata(const QString& name, const QStringList& texts)
{
    QJsonObject object = source(name, QJsonValue::Null, QJsonValue::Null);
    object.insert(QStringLiteral("metadata"), QJsonArray::fromStringList(texts));
    return object;
}

} // namespace

class TestNdiReceiver : public QObject
{
    Q_OBJECT

private:
    QJsonArray m_sources;

    // Puts the sources on the network and waits until discovery has seen all of them.
    void network(const QJsonArray& sources)
    {
        m_sources = sources;
        write(sources);
        for (const QJsonValue& s : sources) {
            const QString name = s.toObject().value(QStringLiteral("name")).toString();
            QTRY_VERIFY_WITH_TIMEOUT(NDIFind::instance()->currentSources().count(name) == 1, 3000);
        }
    }

    static VideoFrameInfo waitForFrame(NDIReceiver& receiver)
    {
        VideoFrameInfo frame;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 3000) {
            frame = receiver.videoFrame();
            if (frame.data)
                break;
            QTest::qWait(20);
        }
        return frame;
    }

private Q_SLOTS:
    void initTestCase()
    {
        use();
        LogCapture::install();
        QJsonObject both = tone(0.5);
        both.insert(QStringLiteral("peak_right"), 0.25);
        QJsonObject silence { { "mode", "silence" } };
        QJsonObject negative = tone(0.5);
        negative.insert(QStringLiteral("mode"), QStringLiteral("negative"));
        QJsonObject aspect = NdiSim::video(720, 576, QStringLiteral("UYVY"), QStringLiteral("bars"));
        aspect.insert(QStringLiteral("aspect"), 4.0 / 3.0);
        network({ source(QStringLiteral("HD UYVY"),
                      NdiSim::video(
                          1920, 1080, QStringLiteral("UYVY"), QStringLiteral("solid"), QStringLiteral("#e02010")),
                      tone(1.0)),
            source(QStringLiteral("KEY BGRA"),
                NdiSim::video(640, 360, QStringLiteral("BGRA"), QStringLiteral("solid"), QStringLiteral("#80204060")),
                both),
            source(QStringLiteral("SD 4:3"), aspect, silence),
            source(QStringLiteral("RADIO"), QJsonValue::Null, tone(0.5)),
            source(QStringLiteral("BELOW ZERO"), QJsonValue::Null, negative) });
    }

    void defaultRate()
    {
        if (!TestEnv::hasSound())
            QSKIP("needs the PulseAudio null sink of the headless fixture");
        // First in this process: nothing has asked for the rate yet.
        const int rate = defaultSampleRate();
        QCOMPARE(defaultSampleRate(), rate);
        QCOMPARE(rate, 48000); // the null sink's rate
        QStringList logged;
        for (const QString& line : LogCapture::take()) {
            if (line.contains(QLatin1String("sample rate")) || line.contains(QLatin1String("audio output")))
                logged << line;
        }
        QCOMPARE(logged, QStringList { "Default sample rate: 48000" }); // once, although asked twice
    }

    void defaultRateWithoutSoundDevice()
    {
        QProcess child;
        QProcessEnvironment env = TestEnv::childEnvironment(QStringLiteral("nosound"));
        env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/native"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--child-rate") });
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.readAllStandardOutput().trimmed(), QByteArray("48000 48000"));
        QStringList logged;
        for (const QString& line : QString::fromLocal8Bit(child.readAllStandardError()).split(QLatin1Char('\n'))) {
            if (line.contains(QLatin1String("sample rate")) || line.contains(QLatin1String("audio output")))
                logged << line.mid(20);
        }
        QCOMPARE(logged, (QStringList { "No default audio output: using 48000", "Default sample rate: 48000" }));
    }

    void level_data()
    {
        QTest::addColumn<float>("peak");
        QTest::addColumn<int>("level");
        QTest::addRow("full scale") << 1.0f << 74;
        QTest::addRow("half") << 0.5f << 67;
        QTest::addRow("a tenth") << 0.1f << 49;
        QTest::addRow("above full scale") << 2.0f << 81;
        QTest::addRow("largest float") << FLT_MAX << 1037;
        QTest::addRow("infinity") << std::numeric_limits<float>::infinity() << INT_MAX;
        QTest::addRow("smallest denormal") << std::numeric_limits<float>::denorm_min() << -1047;
        QTest::addRow("zero") << 0.0f << -2147483574;
        QTest::addRow("negative zero") << -0.0f << -2147483574;
        QTest::addRow("negative") << -0.5f << -2147483574;
        QTest::addRow("NaN") << std::numeric_limits<float>::quiet_NaN() << -2147483574;
    }

    void level()
    {
        QFETCH(float, peak);
        QFETCH(int, level);
        QCOMPARE(NDIReceiver::level(peak), level);
    }

    void video_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("lowBandwidth");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<float>("aspect");
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("firstPixel"); // empty: not checked

        QTest::addRow("UYVY full bandwidth")
            << "HD UYVY" << false << 1920 << 1080 << 1920.0f / 1080.0f << 2 << QByteArray();
        QTest::addRow("UYVY lowest bandwidth")
            << "HD UYVY" << true << 640 << 360 << 640.0f / 360.0f << 2 << QByteArray();
        QTest::addRow("BGRA with alpha") << "KEY BGRA" << false << 640 << 360 << 640.0f / 360.0f << 0
                                         << QByteArray("\x60\x40\x20\x80", 4);
        QTest::addRow("aspect given") << "SD 4:3" << false << 720 << 576 << float(4.0 / 3.0) << 2 << QByteArray();
    }

    void video()
    {
        QFETCH(QString, name);
        QFETCH(bool, lowBandwidth);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(float, aspect);
        QFETCH(int, format);
        QFETCH(QByteArray, firstPixel);

        std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(lowBandwidth, true);
        QSignalSpy connected(receiver.get(), &NDIReceiver::connected);
        receiver->connectToSource(name);
        QCOMPARE(connected.size(), 1);
        QCOMPARE(connected.at(0).at(0).toString(), name);
        const VideoFrameInfo frame = waitForFrame(*receiver);
        QVERIFY(frame.data);
        QCOMPARE(frame.width, width);
        QCOMPARE(frame.height, height);
        QCOMPARE(frame.aspectRatio, aspect);
        QCOMPARE(frame.pixelFormat, format);
        if (!firstPixel.isEmpty())
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(frame.data), 4), firstPixel);
    }

    void uyvyPixelsMatchTheColour()
    {
        std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(false, true);
        receiver->connectToSource(QStringLiteral("HD UYVY"));
        const VideoFrameInfo frame = waitForFrame(*receiver);
        QVERIFY(frame.data);
        // Back to RGB (studio-range BT.709) from the middle of the picture: #e02010.
        const uchar* p = frame.data + (540 * 1920 + 960) * 2;
        const double y = (p[1] - 16) / 219.0, u = (p[0] - 128) / 224.0, v = (p[2] - 128) / 224.0;
        const double r = y + 1.5748 * v, g = y - 0.1873 * u - 0.4681 * v, b = y + 1.8556 * u;
        QVERIFY2(std::abs(r * 255 - 0xe0) < 3, qPrintable(QString::number(r * 255)));
        QVERIFY2(std::abs(g * 255 - 0x20) < 3, qPrintable(QString::number(g * 255)));
        QVERIFY2(std::abs(b * 255 - 0x10) < 3, qPrintable(QString::number(b * 255)));
    }

    void audioOnlyGivesNoPicture()
    {
        std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(false, true);
        receiver->connectToSource(QStringLiteral("RADIO"));
        QSignalSpy levels(receiver.get(), &Receiver::vuUpdated);
        // Sound arriving shows the connection is up; still no picture.
        QTRY_VERIFY([&] {
            receiver->readAudio(480, true);
            return levels.last().at(0).toInt() == 67;
        }());
        const VideoFrameInfo frame = receiver->videoFrame();
        QCOMPARE(frame.width, 0);
        QCOMPARE(frame.height, 0);
        QVERIFY(!frame.data);
        QCOMPARE(frame.aspectRatio, 1.0f);
    }

    void levels_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("right");
        QTest::addRow("peak 1.0") << "HD UYVY" << 74 << 74;
        QTest::addRow("peaks 0.5 and 0.25") << "KEY BGRA" << 67 << 59;
        QTest::addRow("silence") << "SD 4:3" << -2147483574 << -2147483574;
        QTest::addRow("all negative") << "BELOW ZERO" << -2147483574 << -2147483574;
        QTest::addRow("not on the network") << "NOWHERE" << -2147483574 << -2147483574;
    }

    void levels()
    {
        QFETCH(QString, name);
        QFETCH(int, left);
        QFETCH(int, right);

        std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(false, true);
        receiver->connectToSource(name);
        QSignalSpy levels(receiver.get(), &Receiver::vuUpdated);
        QTRY_VERIFY([&] {
            receiver->readAudio(960, true); // 20 ms: twenty periods of the 1 kHz tone
            return levels.last().at(0).toInt() == left;
        }());
        levels.clear();
        for (bool levelsOnly : { true, false }) {
            const float* samples = receiver->readAudio(960, levelsOnly);
            QCOMPARE(bool(samples), !levelsOnly);
        }
        QCOMPARE(levels.size(), 2);
        for (const QList<QVariant>& report : levels) {
            QCOMPARE(report.at(0).toInt(), left);
            QCOMPARE(report.at(1).toInt(), right);
        }
    }

    void audioIsInterleaved()
    {
        std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(false, true);
        receiver->connectToSource(QStringLiteral("KEY BGRA")); // right channel at half the left
        const float* samples = nullptr;
        QTRY_VERIFY((samples = receiver->readAudio(480, false)) && *std::max_element(samples, samples + 960) > 0.4f);
        float maxLeft = 0, maxRight = 0;
        for (int i = 0; i < 480; ++i) {
            QCOMPARE(samples[2 * i + 1], samples[2 * i] * 0.5f);
            maxLeft = std::max(maxLeft, samples[2 * i]);
            maxRight = std::max(maxRight, samples[2 * i + 1]);
        }
        QVERIFY(std::abs(maxLeft - 0.5f) < 0.01f);
        QVERIFY(std::abs(maxRight - 0.25f) < 0.01f);
    }

    void audioWithoutSamples_data()
    {
        QTest::addColumn<qint64>("samples");
        QTest::addColumn<bool>("levelsOnly");
        QTest::addColumn<bool>("buffer");
        QTest::addRow("zero") << qint64(0) << false << true;
        QTest::addRow("zero, levels only") << qint64(0) << true << false;
        QTest::addRow("negative") << qint64(-5) << false << true;
        QTest::addRow("absurdly many") << (qint64(1) << 40) << false << false;
    }

    void audioWithoutSamples()
    {
        QFETCH(qint64, samples);
        QFETCH(bool, levelsOnly);
        QFETCH(bool, buffer);
        std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(false, true);
        receiver->connectToSource(QStringLiteral("HD UYVY"));
        QSignalSpy levels(receiver.get(), &Receiver::vuUpdated);
        QCOMPARE(bool(receiver->readAudio(samples, levelsOnly)), buffer);
        QCOMPARE(levels.size(), 0);
        receiver->readAudio(1, true); // a real pull still reports
        QCOMPARE(levels.size(), 1);
    }

    void tally_data()
    {
        QTest::addColumn<QStringList>("metadata");
        QTest::addColumn<int>("tally");
        QTest::addRow("program and preview")
            << QStringList { "<ndi_tally_echo on_program=\"true\" on_preview=\"true\"/>" } << 2;
        QTest::addRow("program only") << QStringList { "<ndi_tally_echo on_program=\"true\" on_preview=\"false\"/>" }
                                      << 2;
        QTest::addRow("preview only") << QStringList { "<ndi_tally_echo on_program=\"false\" on_preview=\"true\"/>" }
                                      << 1;
        QTest::addRow("neither") << QStringList { "<ndi_tally_echo on_program=\"false\" on_preview=\"false\"/>" } << 0;
        QTest::addRow("no attributes") << QStringList { "<ndi_tally_echo/>" } << 0;
        QTest::addRow("capital T does not count")
            << QStringList { "<ndi_tally_echo on_program=\"True\" on_preview=\"false\"/>" } << 0;
        QTest::addRow("other metadata ignored") << QStringList { "not xml at all",
            "<ndi_capabilities web_control=\"x\"/>", "<ndi_tally_echo on_program=\"false\" on_preview=\"true\"/>", "" }
                                                << 1;
    }

    void tally()
    {
        QFETCH(QStringList, metadata);
        QFETCH(int, tally);

        const QString name = QStringLiteral("TALLY ") + QLatin1String(QTest::currentDataTag());
        QJsonArray sources = m_sources;
        sources.append(withMetadata(name, metadata));
        network(sources);
        std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(false, true);
        Reports reports(receiver.get());
        receiver->connectToSource(name);
        // One report per tally element, as often as the source sends one (every 500 ms here).
        QTRY_VERIFY_WITH_TIMEOUT(reports.tallies.size() >= 2, 3000);
        QCOMPARE(reports.tallies, QList<int>(reports.tallies.size(), tally));

        receiver->disconnectFromSource();
        QTRY_COMPARE(reports.levels, (QList<QPair<int, int>> { { -999, -999 } }));
        // Disconnected: no more tally. A fresh connection shows the queue is drained.
        const qsizetype before = reports.tallies.size();
        receiver->connectToSource(name);
        QTRY_VERIFY(reports.tallies.size() > before);
    }

    void unlistedNameStillConnects()
    {
        std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(false, true);
        Reports reports(receiver.get());
        QSignalSpy connected(receiver.get(), &NDIReceiver::connected);
        receiver->connectToSource(QStringLiteral("LATE (comer)"));
        QCOMPARE(connected.size(), 1);
        QCOMPARE(connected.at(0).at(0).toString(), QStringLiteral("LATE (comer)"));
        QVERIFY(!receiver->videoFrame().data);

        // The runtime was asked for that name: when the source turns up, it is received.
        QJsonArray sources = m_sources;
        sources.append(withMetadata(QStringLiteral("LATE (comer)"),
            { QStringLiteral("<ndi_tally_echo on_program=\"true\" on_preview=\"false\"/>") }));
        write(sources);
        QTRY_VERIFY_WITH_TIMEOUT(!reports.tallies.isEmpty(), 3000);
        QCOMPARE(reports.tallies.first(), 2);
    }

    void switchingSources()
    {
        std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(false, true);
        QSignalSpy connected(receiver.get(), &NDIReceiver::connected);
        receiver->connectToSource(QStringLiteral("HD UYVY"));
        QCOMPARE(waitForFrame(*receiver).width, 1920);
        receiver->connectToSource(QStringLiteral("KEY BGRA"));
        QTRY_COMPARE(receiver->videoFrame().width, 640);
        QCOMPARE(receiver->videoFrame().pixelFormat, 0);
        QCOMPARE(connected.size(), 2);
        QCOMPARE(connected.at(1).at(0).toString(), QStringLiteral("KEY BGRA"));
    }

    void releaseDisposesOnThePool()
    {
        std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(false, true);
        Reports reports(receiver.get());
        receiver->connectToSource(QStringLiteral("HD UYVY"));
        QVERIFY(waitForFrame(*receiver).data);
        receiver->readAudio(480, true);
        receiver.reset(); // the deleter only posts the disposal
        QTRY_VERIFY(reports.destroyed);
        QCOMPARE(reports.levels, (QList<QPair<int, int>> { { 74, 74 }, { -999, -999 }, { 0, 0 } }));
    }

    // Letting go never waits for the disposal: with every pool thread busy, the last holder's reset()
    // on another thread still returns, and the receiver goes once the pool is free again.
    void lettingGoNeverWaits()
    {
        std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(false, true);
        Reports reports(receiver.get());
        receiver->connectToSource(QStringLiteral("HD UYVY"));

        QThreadPool* pool = QThreadPool::globalInstance();
        const int threads = pool->maxThreadCount();
        QSemaphore started, release;
        for (int i = 0; i < threads; ++i) {
            pool->start([&] {
                started.release();
                release.acquire();
            });
        }
        started.acquire(threads); // the pool is full
        std::thread holder([held = std::move(receiver)]() mutable { held.reset(); });
        holder.join(); // would hang here if the deleter waited for the disposal
        QCoreApplication::processEvents();
        QVERIFY(!reports.destroyed);
        release.release(threads);
        QTRY_VERIFY(reports.destroyed);
        QCOMPARE(reports.levels.last(), qMakePair(0, 0));
    }

    // The render and audio threads keep pulling from their own copies while the main thread lets
    // go; disposal comes only after the last one has let go.
    void lastHolderEndsTheReceiver()
    {
        std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(false, true);
        Reports reports(receiver.get());
        receiver->connectToSource(QStringLiteral("KEY BGRA"));
        std::atomic<bool> stop { false };
        std::atomic<int> frames { 0 }, blocks { 0 };
        std::shared_ptr<Receiver> forRender = receiver, forAudio = receiver;
        std::thread render([&stop, &frames, held = std::move(forRender)]() mutable {
            while (!stop.load()) {
                const VideoFrameInfo frame = held->videoFrame();
                if (frame.data && frame.data[3] == 0x80)
                    frames.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            held.reset(); // may be the last holder: disposal from the render thread
        });
        std::thread audio([&stop, &blocks, held = std::move(forAudio)]() mutable {
            while (!stop.load()) {
                const float* samples = held->readAudio(480, false);
                if (samples && samples[1] == samples[0] * 0.5f)
                    blocks.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            held.reset();
        });
        QTRY_VERIFY(frames.load() > 5 && blocks.load() > 5);
        receiver.reset();
        const int framesThen = frames.load(), blocksThen = blocks.load();
        QTRY_VERIFY(frames.load() > framesThen + 5 && blocks.load() > blocksThen + 5);
        QVERIFY(!reports.destroyed);
        stop.store(true);
        render.join();
        audio.join();
        QTRY_VERIFY(reports.destroyed);
        QCOMPARE(reports.levels.mid(reports.levels.size() - 2), (QList<QPair<int, int>> { { -999, -999 }, { 0, 0 } }));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--child-rate") {
        const int first = defaultSampleRate();
        std::printf("%d %d\n", first, defaultSampleRate());
        return 0;
    }
    TestNdiReceiver test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_ndireceiver.moc"
