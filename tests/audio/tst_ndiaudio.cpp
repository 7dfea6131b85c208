// The audio path of a slot list against a sound server of the test's own, whose null sink the test
// takes away: reads of the sound device, listening, and reads going on without an output.
#include "audio/slotlistaudiohelper.h"
#include "slots/recordingrules.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "tests/common/simnetwork.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

namespace
{

// Largest left-channel sample the null sink plays over the given time, after what was already
// queued (its latency) has played out.
float sinkPeak(int milliseconds, int latency = 1200)
{
    QProcess parec;
    parec.start("parec",
        { "--device=nullsink.monitor", "--raw", "--format=float32le", "--channels=2", "--rate=48000",
            "--latency-msec=20" });
    if (!parec.waitForStarted(5000))
        return -1.0f;
    QTest::qWait(latency + milliseconds); // its output is collected meanwhile
    parec.kill();
    parec.waitForFinished(3000);
    const QByteArray data = parec.readAllStandardOutput();
    const auto* samples = reinterpret_cast<const float*>(data.constData());
    float peak = 0.0f;
    for (qsizetype i = std::max<qsizetype>(0, data.size() / 4 - 2 * 48 * milliseconds) & ~qsizetype(1);
         i + 1 < data.size() / 4; i += 2)
        peak = std::max(peak, std::abs(samples[i]));
    return peak;
}

} // namespace

class TestNdiAudio : public QObject
{
    Q_OBJECT

    std::atomic<qint64> m_frames { 0 }; // counted on the audio thread: declared first, it outlives the helper
    std::unique_ptr<SlotListModel> m_model;
    Slot* m_loud = nullptr; // tone of peak 0.5
    Slot* m_soft = nullptr; // tone of peak 0.25
    std::unique_ptr<SlotListAudioHelper> m_helper;

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestEnv::useOwnSoundServer())
            QSKIP("No PulseAudio server with a null sink could be started on this machine");
        LogCapture::install();
        const QJsonObject picture = NdiSim::video(64, 36, "UYVY", "solid");
        NdiSim::use({ NdiSim::source("Loud", picture, NdiSim::tone(0.5)),
            NdiSim::source("Soft", picture, NdiSim::tone(0.25, 440.0)) });
        m_model = std::make_unique<SlotListModel>();
        for (auto [slot, source] : { std::pair { &m_loud, "Loud" }, { &m_soft, "Soft" } }) {
            *slot = new Slot;
            (*slot)->setViewingOnly(true); // no recording program for these
            m_model->append(*slot);
            QCOMPARE((*slot)->connectSource(source), QStringLiteral("success"));
        }
        m_helper = std::make_unique<SlotListAudioHelper>(m_model.get());
        connect(
            m_helper->device(), &NDIDevice::dataRead, m_helper->device(), [this](qint64 frames) { m_frames += frames; },
            Qt::DirectConnection);
    }

    // The slot listened to last is heard alone (the loud one plays again at the end of the run).
    void listeningSwitchesAndStops()
    {
        QSignalSpy loud(m_loud, &Slot::isListeningChanged), soft(m_soft, &Slot::isListeningChanged);
        m_helper->startListening(m_loud);
        m_helper->startListening(m_soft);
        const float peak = sinkPeak(800);
        QVERIFY2(std::abs(peak - 0.25f) < 0.02f, qPrintable(QString::number(peak)));
        m_helper->stopListening();
        QCOMPARE(sinkPeak(600), 0.0f);
        m_helper->stopListening(); // nobody listened to: no signal
        QCOMPARE(loud, (QList<QList<QVariant>> { { true }, { false } }));
        QCOMPARE(soft, (QList<QList<QVariant>> { { true }, { false } }));
    }

    // The pulls leave every slot's levels (peak 0.5: 67, peak 0.25: 59) for the main thread's
    // timer, whether the slot is listened to or not.
    void levelsReachEverySlot()
    {
        const auto meter = [](const Slot* slot, int raw) {
            return RecordingRules::meterLevel(raw, Slot::standardGain(), slot->audioGain());
        };
        for (Slot* listened : { static_cast<Slot*>(nullptr), m_soft }) {
            m_helper->startListening(listened);
            m_loud->vuUpdated(-1000, -1000);
            m_soft->vuUpdated(-1000, -1000);
            QTRY_COMPARE(QList<int>({ m_loud->leftLevel(), m_soft->leftLevel(), m_soft->rightLevel() }),
                QList<int>({ meter(m_loud, 67), meter(m_soft, 59), meter(m_soft, 59) }));
        }
        m_helper->stopListening();
    }

    // Every meter is clocked by the reads: they go on at the sink's pace while the output is gone,
    // and the listened sound plays again once it is back.
    void readsGoOnWithoutASoundOutput()
    {
        QTRY_VERIFY_WITH_TIMEOUT(LogCapture::matches("^Sound output: "), 10000);
        QVERIFY(QProcess::execute("pactl", { "unload-module", "module-null-sink" }) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(LogCapture::matches("^Sound output lost"), 5000);
        const qint64 before = m_frames.load();
        QElapsedTimer timer;
        timer.start();
        QTRY_VERIFY_WITH_TIMEOUT(m_frames.load() - before >= 2 * 48000, 10000);
        QVERIFY2(timer.elapsed() > 1600 && timer.elapsed() < 2600, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(
            QProcess::execute("pactl", { "load-module", "module-null-sink", "sink_name=nullsink", "rate=48000" }) == 0);
        QVERIFY(QProcess::execute("pactl", { "set-default-sink", "nullsink" }) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(LogCapture::matches("^Sound output back: "), 10000);
        m_helper->startListening(m_loud);
        const float peak = sinkPeak(3000); // a new null sink may hold a new stream for two seconds
        QVERIFY2(std::abs(peak - 0.5f) < 0.02f, qPrintable(LogCapture::peek().join('\n')));
        m_helper->stopListening();
    }
};

QTEST_GUILESS_MAIN(TestNdiAudio)
#include "tst_ndiaudio.moc"
