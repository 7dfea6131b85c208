#include "ndi/defaultsamplerate.h"
#include "ndi/ndireceiver.h"
#include "ndi/slotlistaudiohelper.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "tests/common/testenv.h"
#include "tests/common/simnetwork.h"

#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <memory>

namespace
{

// Largest absolute left-channel sample of what the null sink plays over the given time, after
// what was already queued in the sound output (its latency) has played out.
float sinkPeak(int milliseconds)
{
    const int latency = 1200;
    QProcess parec;
    parec.start(QStringLiteral("parec"),
        { QStringLiteral("--device=nullsink.monitor"), QStringLiteral("--raw"), QStringLiteral("--format=float32le"),
            QStringLiteral("--channels=2"), QStringLiteral("--rate=48000"), QStringLiteral("--latency-msec=20") });
    if (!parec.waitForStarted(5000))
        return -1.0f;
    QByteArray data;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < latency + milliseconds) {
        parec.waitForReadyRead(100);
        data += parec.readAllStandardOutput();
    }
    parec.terminate();
    parec.waitForFinished(3000);
    const auto* samples = reinterpret_cast<const float*>(data.constData());
    const qsizetype values = data.size() / 4;
    float peak = 0.0f;
    for (qsizetype i = std::max<qsizetype>(0, values - 2 * 48 * milliseconds) & ~qsizetype(1); i + 1 < values; i += 2)
        peak = std::max(peak, std::abs(samples[i]));
    return peak;
}

// The levels one slot's receiver reported, collected on the main thread. Reports still queued
// when the log goes are dropped with its context object.
struct LevelLog {
    QList<QPair<int, int>> levels;
    std::unique_ptr<QObject> context = std::make_unique<QObject>();

    void follow(Slot* slot)
    {
        const std::shared_ptr<Receiver> receiver = slot->activeReceiver();
        QVERIFY(receiver);
        QObject::connect(
            receiver.get(), &Receiver::vuUpdated, context.get(),
            [this](int left, int right) {
                levels.append({ left, right });
            },
            Qt::QueuedConnection);
    }
    QPair<int, int> last() const { return levels.isEmpty() ? QPair<int, int>(0, 0) : levels.last(); }
};

} // namespace

class TestSlotListAudioHelper : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SlotListModel> m_model;
    Slot* m_loud = nullptr; // tone of peak 0.5: level 67
    Slot* m_soft = nullptr; // tone of peak 0.25: level 59
    Slot* m_unbound = nullptr;
    std::unique_ptr<SlotListAudioHelper> m_helper;
    std::atomic<qint64> m_reads { 0 }; // reads of the sound device with frames, counted on the audio thread
    std::atomic<qint64> m_largestRead { 0 };

    void expectListening(QSignalSpy& spy, const QList<bool>& values)
    {
        QList<bool> actual;
        for (const QList<QVariant>& emission : spy)
            actual << emission.at(0).toBool();
        QCOMPARE(actual, values);
        spy.clear();
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestEnv::hasSound())
            QSKIP("No PulseAudio server with a null sink on this machine");
        NdiSim::use();
        const QJsonObject picture = NdiSim::video(64, 36, QStringLiteral("UYVY"), QStringLiteral("solid"));
        NdiSim::write(QJsonArray { NdiSim::source(QStringLiteral("Loud"), picture, NdiSim::tone(0.5)),
            NdiSim::source(QStringLiteral("Soft"), picture, NdiSim::tone(0.25, 440.0)) });

        m_model = std::make_unique<SlotListModel>();
        for (Slot** slot : { &m_loud, &m_soft, &m_unbound }) {
            *slot = new Slot;
            (*slot)->setViewingOnly(true); // no recording program for these
            m_model->append(*slot);
        }
        QCOMPARE(m_loud->connectSource(QStringLiteral("Loud")), QStringLiteral("success"));
        QCOMPARE(m_soft->connectSource(QStringLiteral("Soft")), QStringLiteral("success"));

        m_helper = std::make_unique<SlotListAudioHelper>(m_model.get());
        connect(
            m_helper->device(), &NDIDevice::dataRead, m_helper->device(),
            [this](qint64 frames) {
                if (frames > 0)
                    ++m_reads;
                if (frames > m_largestRead)
                    m_largestRead = frames;
            },
            Qt::DirectConnection);
    }

    void cleanupTestCase()
    {
        m_helper.reset();
        m_model.reset();
    }

    void metersMoveWithoutListening()
    {
        QVERIFY(!m_helper->currentSlot());
        LevelLog loud;
        LevelLog soft;
        loud.follow(m_loud);
        soft.follow(m_soft);

        // The formula: 74 - trunc(-25 log10(peak)): 0.5 gives 67, 0.25 gives 59.
        QTRY_COMPARE_WITH_TIMEOUT(loud.last(), qMakePair(67, 67), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(soft.last(), qMakePair(59, 59), 10000);
        QTRY_COMPARE(m_loud->leftLevel(), RecordingRules::meterLevel(67, Slot::standardGain(), m_loud->audioGain()));

        // One level report per slot for every read of the sound device, at the sink's pace:
        // 48000 frames a second in reads of at most 2048 frames.
        const qint64 readsBefore = m_reads.load();
        const int loudBefore = loud.levels.size();
        const int softBefore = soft.levels.size();
        QElapsedTimer timer;
        timer.start();
        QTRY_VERIFY_WITH_TIMEOUT(m_reads.load() - readsBefore >= 40, 10000);
        const qint64 reads = m_reads.load() - readsBefore;
        const double perSecond = reads * 1000.0 / double(timer.elapsed());
        QVERIFY2(perSecond > 48000.0 / 2048 * 0.8 && perSecond < 48000.0 / 512, qPrintable(QString::number(perSecond)));
        QTRY_VERIFY(loud.levels.size() - loudBefore >= reads);
        QVERIFY(loud.levels.size() - loudBefore <= reads + 3);
        QVERIFY(soft.levels.size() - softBefore >= reads - 3 && soft.levels.size() - softBefore <= reads + 3);
        QVERIFY(m_largestRead.load() <= NDIDevice::samplesPerRead);
        QCOMPARE(m_unbound->activeReceiver(), std::shared_ptr<Receiver>());
    }

    void listeningSwitchesAndStops()
    {
        QSignalSpy loudListening(m_loud, &Slot::isListeningChanged);
        QSignalSpy softListening(m_soft, &Slot::isListeningChanged);

        m_helper->startListening(m_loud);
        expectListening(loudListening, { true });
        QCOMPARE(m_helper->currentSlot(), m_loud);
        QCOMPARE(m_helper->device()->receiver(), m_loud->activeReceiver());
        float peak = sinkPeak(800);
        QVERIFY2(std::abs(peak - 0.5f) < 0.02f, qPrintable(QString::number(peak)));

        // The listened slot is still metered (by the read itself), and so is the other one.
        LevelLog loud;
        LevelLog soft;
        loud.follow(m_loud);
        soft.follow(m_soft);
        QTRY_VERIFY(loud.levels.size() >= 5 && soft.levels.size() >= 5);
        QCOMPARE(loud.last(), qMakePair(67, 67));
        QCOMPARE(soft.last(), qMakePair(59, 59));

        // Again on the same slot: off and on again, still the current slot.
        m_helper->startListening(m_loud);
        expectListening(loudListening, { false, true });
        QCOMPARE(m_helper->currentSlot(), m_loud);

        m_helper->startListening(m_soft);
        expectListening(loudListening, { false });
        expectListening(softListening, { true });
        QCOMPARE(m_helper->device()->receiver(), m_soft->activeReceiver());
        peak = sinkPeak(800);
        QVERIFY2(std::abs(peak - 0.25f) < 0.02f, qPrintable(QString::number(peak)));

        m_helper->stopListening();
        expectListening(softListening, { false });
        QVERIFY(!m_helper->currentSlot());
        QVERIFY(!m_helper->device()->receiver());
        QCOMPARE(sinkPeak(600), 0.0f);

        // Nobody listened to: no signal at all.
        m_helper->stopListening();
        QCOMPARE(loudListening.count() + softListening.count(), 0);
        QVERIFY(!m_loud->isListening() && !m_soft->isListening());
    }

    void listenedSlotChangesItsReceiver()
    {
        m_helper->startListening(m_loud);
        std::weak_ptr<Receiver> old = m_loud->activeReceiver();
        QCOMPARE(m_helper->device()->receiver(), old.lock());
        const Receiver* oldAddress = old.lock().get();

        // A new receiver (full resolution) is heard at once, and the old one is let go by all.
        m_loud->setIsFullRes(!m_loud->isFullRes());
        QVERIFY(m_loud->activeReceiver());
        QVERIFY(m_loud->activeReceiver().get() != oldAddress);
        QCOMPARE(m_helper->device()->receiver(), m_loud->activeReceiver());
        QTRY_VERIFY(old.expired());

        // Unbound, the slot goes quiet; bound again, it is heard again.
        QCOMPARE(m_loud->disconnectSource(), QStringLiteral("success"));
        QVERIFY(!m_helper->device()->receiver());
        QCOMPARE(sinkPeak(600), 0.0f);
        QCOMPARE(m_loud->connectSource(QStringLiteral("Loud")), QStringLiteral("success"));
        QCOMPARE(m_helper->device()->receiver(), m_loud->activeReceiver());
        const float peak = sinkPeak(800);
        QVERIFY2(std::abs(peak - 0.5f) < 0.02f, qPrintable(QString::number(peak)));
        m_helper->stopListening();
    }

    void destructionJoinsTheAudioThread()
    {
        auto helper = std::make_unique<SlotListAudioHelper>(m_model.get());
        std::atomic<int> reads { 0 };
        connect(
            helper->device(), &NDIDevice::dataRead, helper->device(), [&reads](qint64) { ++reads; },
            Qt::DirectConnection);
        QTRY_VERIFY_WITH_TIMEOUT(reads.load() > 3, 10000);
        helper->startListening(m_soft);
        const float peak = sinkPeak(800);
        QVERIFY2(std::abs(peak - 0.25f) < 0.02f, qPrintable(QString::number(peak)));

        // Returns only once the audio thread has ended (the counter above lives on this stack):
        // the sound stops with its owner and the slot's receiver stays usable.
        helper.reset();
        QCOMPARE(sinkPeak(600), 0.0f);
        QVERIFY(m_soft->activeReceiver());
        m_soft->setIsListening(false);
    }
};

QTEST_GUILESS_MAIN(TestSlotListAudioHelper)
#include "tst_slotlistaudiohelper.moc"
