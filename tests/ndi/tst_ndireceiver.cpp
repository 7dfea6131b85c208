// The slot receiver against the simulated network, with real capture, pool and pulling threads.
#include "ndi/ndifind.h"
#include "ndi/ndireceiver.h"
#include "tests/common/simnetwork.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include <thread>

using namespace NdiSim;

namespace
{

// What a receiver reports, on the main thread, as the slot gets it (queued connections).
struct Reports : QObject {
    explicit Reports(Receiver* r)
    {
        const auto queued = [&](auto signal, auto slot) { connect(r, signal, this, slot, Qt::QueuedConnection); };
        queued(&Receiver::tallyUpdated, [this](int t) { tallies << t; });
        queued(&Receiver::vuUpdated, [this](int l, int r) { levels << qMakePair(l, r); });
        queued(&QObject::destroyed, [this] { destroyed = true; });
    }
    QList<int> tallies;
    QList<QPair<int, int>> levels;
    bool destroyed = false;
};

VideoFrameInfo waitForFrame(NDIReceiver& receiver)
{
    VideoFrameInfo frame;
    for (int i = 0; i < 150 && !(frame = receiver.videoFrame()).data; ++i)
        QTest::qWait(20);
    return frame;
}

} // namespace

class TestNdiReceiver : public QObject
{
    Q_OBJECT

    QJsonArray m_sources;

    void network(const QJsonArray& sources)
    {
        write(m_sources = sources);
        for (const QJsonValue& s : sources)
            QTRY_VERIFY_WITH_TIMEOUT(
                NDIFind::instance()->currentSources().count(s[QStringLiteral("name")].toString()), 3000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        use();
        QJsonObject both = tone(0.5), negative = tone(0.5), aspect = NdiSim::video(720, 576, "UYVY", "bars");
        both.insert("peak_right", 0.25);
        negative.insert("mode", "negative");
        aspect.insert("aspect", 4.0 / 3.0);
        network({ source("HD UYVY", NdiSim::video(1920, 1080, "UYVY", "solid", "#e02010"), tone(1.0)),
            source("KEY BGRA", NdiSim::video(640, 360, "BGRA", "solid", "#80204060"), both),
            source("SD 4:3", aspect, QJsonValue::Null), source("BELOW ZERO", QJsonValue::Null, negative) });
    }

    void video_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("lowBandwidth");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<float>("aspect");
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("pixel"); // first and last: every row is filled
        // Studio-range BT.709 of #e02010, as u y v y.
        QTest::addRow("UYVY") << "HD UYVY" << false << 1920 << 1080 << 1920.0f / 1080 << 2
                              << QByteArray("\x66\x4e\xd5\x4e");
        QTest::addRow("lowest bandwidth") << "HD UYVY" << true << 640 << 360 << 640.0f / 360 << 2 << QByteArray();
        QTest::addRow("BGRA with alpha") << "KEY BGRA" << false << 640 << 360 << 640.0f / 360 << 0
                                         << QByteArray("\x60\x40\x20\x80", 4);
        QTest::addRow("aspect given") << "SD 4:3" << false << 720 << 576 << float(4.0 / 3.0) << 2 << QByteArray();
        QTest::addRow("no video") << "BELOW ZERO" << false << 0 << 0 << 1.0f << 0 << QByteArray();
    }

    void video()
    {
        QFETCH(QString, name);
        QFETCH(bool, lowBandwidth);
        QFETCH(QByteArray, pixel);
        std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(lowBandwidth, true);
        receiver->connectToSource(name);
        const VideoFrameInfo frame = waitForFrame(*receiver);
        QTEST(frame.width, "width");
        QTEST(frame.height, "height");
        QTEST(frame.aspectRatio, "aspect");
        QTEST(frame.pixelFormat, "format");
        const char* data = reinterpret_cast<const char*>(frame.data);
        const qsizetype size = qsizetype(frame.width) * frame.height * (frame.pixelFormat == 2 ? 2 : 4);
        if (!pixel.isEmpty())
            QVERIFY(QByteArray(data, 4) == pixel && QByteArray(data + size - 4, 4) == pixel);
    }

    // Levels come with every pull, levels-only or not; the samples are interleaved stereo.
    void levels_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("right");
        QTest::addRow("peaks 0.5 and 0.25") << "KEY BGRA" << 67 << 59;
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
        QTRY_VERIFY((receiver->readAudio(960, true), levels.last().at(0).toInt() == left)); // 20 ms of a 1 kHz tone
        levels.clear();
        QVERIFY(!receiver->readAudio(960, true));
        const float* samples = receiver->readAudio(960, false);
        QVERIFY(samples);
        float peaks[2] = { 0, 0 };
        for (int i = 0; i < 2 * 960; ++i)
            peaks[i % 2] = std::max(peaks[i % 2], samples[i]);
        QCOMPARE(NDIReceiver::level(peaks[0]), left);
        QCOMPARE(NDIReceiver::level(peaks[1]), right);
        QCOMPARE(levels, (QList<QList<QVariant>> { { left, right }, { left, right } }));
    }

    void tally_data()
    {
        QTest::addColumn<QStringList>("metadata");
        QTest::addColumn<int>("tally");
        QTest::addRow("program and preview")
            << QStringList { "<ndi_tally_echo on_program=\"true\" on_preview=\"true\"/>" } << 2;
        QTest::addRow("other metadata ignored") << QStringList { "not xml", "<ndi_capabilities web_control=\"x\"/>",
            "<ndi_tally_echo on_program=\"false\" on_preview=\"true\"/>", "" }
                                                << 1;
        QTest::addRow("exactly true") << QStringList { "<ndi_tally_echo on_program=\"True\" on_preview=\" true\"/>" }
                                      << 0;
    }

    void tally()
    {
        QFETCH(QStringList, metadata);
        QFETCH(int, tally);
        const QString name = QStringLiteral("TALLY ") + QTest::currentDataTag();
        QJsonObject tallied = source(name, QJsonValue::Null, QJsonValue::Null);
        tallied.insert("metadata", QJsonArray::fromStringList(metadata));
        network(QJsonArray(m_sources) << tallied);
        std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(false, true);
        Reports reports(receiver.get());
        receiver->connectToSource(name);
        QTRY_VERIFY_WITH_TIMEOUT(reports.tallies.size() >= 2, 3000); // as often as the source sends it
        QCOMPARE(reports.tallies, QList<int>(reports.tallies.size(), tally));
        receiver->disconnectFromSource();
        QTRY_COMPARE(reports.levels, (QList<QPair<int, int>> { { -999, -999 } }));
        const qsizetype before = reports.tallies.size();
        QTest::qWait(700);
        QCOMPARE(reports.tallies.size(), before);
    }

    // Bound to another source, then let go: the last holder's reset() returns at once, and the
    // receiver goes (meters cleared) even while every pool thread is busy elsewhere.
    void switchingAndLettingGoNeverWaits()
    {
        std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(false, true);
        Reports reports(receiver.get());
        receiver->connectToSource("KEY BGRA");
        QCOMPARE(waitForFrame(*receiver).width, 640);
        receiver->connectToSource("HD UYVY");
        QTRY_COMPARE(receiver->videoFrame().width, 1920);
        receiver->readAudio(480, true);
        QThreadPool* pool = QThreadPool::globalInstance();
        const int threads = pool->maxThreadCount();
        QSemaphore started, release;
        for (int i = 0; i < threads; ++i)
            pool->start([&] { started.release(), release.acquire(); });
        started.acquire(threads);
        std::thread([held = std::move(receiver)]() mutable { held.reset(); }).join(); // hangs if it waited
        QTRY_VERIFY(reports.destroyed);
        release.release(threads);
        QCOMPARE(reports.levels, (QList<QPair<int, int>> { { 74, 74 }, { -999, -999 } }));
    }
};

QTEST_GUILESS_MAIN(TestNdiReceiver)
#include "tst_ndireceiver.moc"
