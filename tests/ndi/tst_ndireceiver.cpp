// The slot receiver against the simulated network, with real capture, pool and pulling threads.
#include "ndi/ndifind.h"
#include "ndi/ndireceiver.h"
#include "ndi/receiverdisposal.h"
#include "tests/common/simnetwork.h"

#include <QSemaphore>
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
        queued(&QObject::destroyed, [this] { destroyed = true; });
    }
    QList<int> tallies;
    bool destroyed = false;
};

VideoFrameInfo waitForFrame(NDIReceiver& receiver)
{
    VideoFrameInfo frame;
    (void)QTest::qWaitFor([&] { return (frame = receiver.videoFrame()).data != nullptr; }, 3000);
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

    // As sent, or the lowest bandwidth's picture, first and last pixel as sent (every row is filled);
    // levels come with every pull of sound, levels-only or not, the samples interleaved stereo.
    void picturesAndLevels()
    {
        const int none = -2147483574;
        const struct {
            const char* name;
            bool lowBandwidth;
            int width, height, format;
            float aspect;
            QByteArray pixel;
            int left, right;
        } rows[] = { { "HD UYVY", false, 1920, 1080, 2, 1920.0f / 1080, "\x66\x4e\xd5\x4e", 74, 74 }, // BT.709 #e02010
            { "HD UYVY", true, 640, 360, 2, 640.0f / 360, {}, 74, 74 },
            { "KEY BGRA", false, 640, 360, 0, 640.0f / 360, QByteArray("\x60\x40\x20\x80", 4), 67, 59 },
            { "SD 4:3", false, 720, 576, 2, float(4.0 / 3.0), {}, none, none },
            { "BELOW ZERO", false, 0, 0, 0, 1.0f, {}, none, none },
            { "NOWHERE", false, 0, 0, 0, 1.0f, {}, none, none } };
        for (const auto& row : rows) {
            std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(row.lowBandwidth, true);
            receiver->connectToSource(row.name);
            const VideoFrameInfo frame = waitForFrame(*receiver);
            QCOMPARE(QList<int>({ frame.width, frame.height, frame.pixelFormat }),
                QList<int>({ row.width, row.height, row.format }));
            QCOMPARE(frame.aspectRatio, row.aspect);
            const char* data = reinterpret_cast<const char*>(frame.data);
            const qsizetype size = qsizetype(frame.width) * frame.height * (frame.pixelFormat == 2 ? 2 : 4);
            if (!row.pixel.isEmpty())
                QVERIFY(QByteArray(data, 4) == row.pixel && QByteArray(data + size - 4, 4) == row.pixel);
            AudioLevels levels, full;
            QTRY_VERIFY((receiver->readAudio(960, true, levels), levels.left == row.left)); // 20 ms of 1 kHz
            QVERIFY(!receiver->readAudio(960, true, levels));
            const float* samples = receiver->readAudio(960, false, full);
            QVERIFY(samples);
            float peaks[2] = { 0, 0 };
            for (int i = 0; i < 2 * 960; ++i)
                peaks[i % 2] = std::max(peaks[i % 2], samples[i]);
            QCOMPARE(QList<int>({ NDIReceiver::level(peaks[0]), NDIReceiver::level(peaks[1]), levels.left, levels.right,
                         full.left, full.right }),
                QList<int>({ row.left, row.right, row.left, row.right, row.left, row.right }));
        }
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
        QCoreApplication::processEvents();
        const qsizetype before = reports.tallies.size();
        QTest::qWait(700);
        QCOMPARE(reports.tallies.size(), before);
    }

    // Bound to another source, then let go: the last holder's reset() returns at once, and the
    // receiver goes even while every pool thread is busy elsewhere.
    void switchingAndLettingGoNeverWaits()
    {
        std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(false, true);
        Reports reports(receiver.get());
        receiver->connectToSource("KEY BGRA");
        QCOMPARE(waitForFrame(*receiver).width, 640);
        receiver->connectToSource("HD UYVY");
        QTRY_COMPARE(receiver->videoFrame().width, 1920);
        AudioLevels levels;
        receiver->readAudio(480, true, levels);
        QThreadPool* pool = QThreadPool::globalInstance();
        const int threads = pool->maxThreadCount();
        QSemaphore started, release;
        for (int i = 0; i < threads; ++i)
            pool->start([&] { started.release(), release.acquire(); });
        started.acquire(threads);
        std::thread([held = std::move(receiver)]() mutable { held.reset(); }).join(); // hangs if it waited
        QTRY_VERIFY(reports.destroyed);
        release.release(threads);
    }

    // The disposal's worker takes receivers down; the main thread deletes them. Its end finishes
    // every receiver handed over, with no event loop run meanwhile, and joins the worker.
    void disposalFinishesEveryReceiverAtItsEnd()
    {
        auto disposal = std::make_unique<ReceiverDisposal>();
        QList<QThread*> deletedOn;
        for (const char* name : { "KEY BGRA", "HD UYVY" }) {
            std::shared_ptr<NDIReceiver> receiver = NDIReceiver::create(false, true, disposal.get());
            receiver->connectToSource(name);
            connect(receiver.get(), &QObject::destroyed, this, [&] { deletedOn << QThread::currentThread(); });
            std::thread([held = std::move(receiver)]() mutable { held.reset(); }).join();
        }
        disposal.reset();
        QCOMPARE(deletedOn, QList<QThread*>(2, QThread::currentThread()));
    }
};

QTEST_GUILESS_MAIN(TestNdiReceiver)
#include "tst_ndireceiver.moc"
