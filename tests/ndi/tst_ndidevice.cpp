#include "ndi/audioplayer.h"
#include "ndi/defaultsamplerate.h"
#include "ndi/ndidevice.h"
#include "tests/common/testenv.h"
#include "tests/common/simnetwork.h"
#include "tests/common/testreceiver.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <cstring>

namespace
{

// Reaches the device's read the way the sound device does, without QIODevice's own buffer.
class ProbeDevice : public NDIDevice
{
public:
    using NDIDevice::readData;
};

struct ToneFigures {
    float peak = 0.0f;
    double frequency = 0.0;
    qint64 frames = 0;
};

// Peak and frequency (from upward zero crossings) of interleaved float stereo, left channel.
ToneFigures analyse(const QByteArray& raw, int sampleRate)
{
    ToneFigures figures;
    const auto* samples = reinterpret_cast<const float*>(raw.constData());
    figures.frames = raw.size() / 8;
    qint64 crossings = 0;
    qint64 first = -1;
    qint64 last = -1;
    for (qint64 i = 0; i < figures.frames; ++i) {
        const float left = samples[i * 2];
        figures.peak = std::max(figures.peak, std::abs(left));
        if (i > 0 && samples[(i - 1) * 2] < 0.0f && left >= 0.0f) {
            if (first < 0)
                first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings > 1)
        figures.frequency = double(crossings - 1) * sampleRate / double(last - first);
    return figures;
}

// Records what the null sink plays through its monitor source for the given time.
QByteArray recordSink(int milliseconds, int sampleRate)
{
    QProcess parec;
    parec.start(QStringLiteral("parec"),
        { QStringLiteral("--device=nullsink.monitor"), QStringLiteral("--raw"), QStringLiteral("--format=float32le"),
            QStringLiteral("--channels=2"), QStringLiteral("--rate=%1").arg(sampleRate),
            QStringLiteral("--latency-msec=20") });
    if (!parec.waitForStarted(5000))
        return {};
    QByteArray data;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        parec.waitForReadyRead(100);
        data += parec.readAllStandardOutput();
    }
    parec.terminate();
    parec.waitForFinished(3000);
    // Whole frames only.
    data.truncate(data.size() - data.size() % 8);
    return data;
}

bool pactl(const QStringList& arguments)
{
    return QProcess::execute(QStringLiteral("pactl"), arguments) == 0;
}

bool logged(const QString& start)
{
    const QStringList lines = LogCapture::peek();
    return std::any_of(lines.begin(), lines.end(), [&](const QString& line) { return line.startsWith(start); });
}

} // namespace

class TestNDIDevice : public QObject
{
    Q_OBJECT

    bool m_sound = false; // a sound server of this test's own, whose sink may be taken away

private Q_SLOTS:
    void initTestCase()
    {
        m_sound = TestEnv::useOwnSoundServer();
    }

    void readSizes_data()
    {
        QTest::addColumn<qint64>("maxlen");
        QTest::addColumn<qint64>("delivered");
        QTest::addColumn<qint64>("frames");
        QTest::addRow("4096 bytes are 512 frames") << qint64(4096) << qint64(4096) << qint64(512);
        QTest::addRow("a read of 100000 bytes delivers 16384") << qint64(100000) << qint64(16384) << qint64(2048);
        QTest::addRow("exactly 16384") << qint64(16384) << qint64(16384) << qint64(2048);
        QTest::addRow("20 ms at 48 kHz") << qint64(7680) << qint64(7680) << qint64(960);
        QTest::addRow("part of a frame is left for the next read") << qint64(12) << qint64(8) << qint64(1);
        QTest::addRow("less than a frame") << qint64(7) << qint64(0) << qint64(0);
    }

    void readSizes()
    {
        QFETCH(qint64, maxlen);
        QFETCH(qint64, delivered);
        QFETCH(qint64, frames);

        for (const bool withReceiver : { false, true }) {
            ProbeDevice device;
            auto receiver = std::make_shared<TestReceiver>(2, 2, TestReceiver::Bgra, Qt::black);
            receiver->setTone(1000.0, 0.5f, 48000);
            if (withReceiver)
                device.setReceiver(receiver);
            QSignalSpy dataRead(&device, &NDIDevice::dataRead);

            // A guard area behind the requested length shows any write past it.
            QByteArray buffer(int(maxlen) + 64, char(0x5a));
            QCOMPARE(device.readData(buffer.data(), maxlen), delivered);
            QCOMPARE(dataRead.count(), 1);
            QCOMPARE(dataRead.at(0).at(0).toLongLong(), frames);
            for (qint64 i = delivered; i < buffer.size(); ++i)
                QCOMPARE(buffer.at(int(i)), char(0x5a));

            const auto* samples = reinterpret_cast<const float*>(buffer.constData());
            if (withReceiver) {
                QCOMPARE(receiver->samplesRead(), frames);
                QCOMPARE(receiver->levelReads(), 0);
                // The receiver's tone, left and right alike: sin(2 pi 1000 i / 48000) x 0.5.
                for (qint64 i = 0; i < frames; ++i) {
                    const float expected = 0.5f * float(std::sin(2 * M_PI * 1000.0 * double(i) / 48000.0));
                    QVERIFY(std::abs(samples[i * 2] - expected) < 1e-6f);
                    QCOMPARE(samples[i * 2 + 1], samples[i * 2]);
                }
            } else {
                for (qint64 i = 0; i < frames * 2; ++i)
                    QCOMPARE(samples[i], 0.0f);
            }
        }
    }

    void emptyReadReportsNothing()
    {
        ProbeDevice device;
        QSignalSpy dataRead(&device, &NDIDevice::dataRead);
        char byte = 0;
        QCOMPARE(device.readData(&byte, 0), qint64(0));
        QCOMPARE(dataRead.count(), 0);
    }

    void receiverOutlivesItsRelease()
    {
        // The device shares the receiver: dropping every other holder leaves it readable.
        ProbeDevice device;
        std::weak_ptr<TestReceiver> watch;
        {
            auto receiver = std::make_shared<TestReceiver>(2, 2, TestReceiver::Bgra, Qt::black);
            watch = receiver;
            device.setReceiver(receiver);
        }
        QVERIFY(!watch.expired());
        QByteArray buffer(64, 0);
        QCOMPARE(device.readData(buffer.data(), buffer.size()), qint64(64));
        QCOMPARE(watch.lock()->samplesRead(), qint64(8));
        device.setReceiver(nullptr);
        QVERIFY(watch.expired());
    }

    void bytesAvailable()
    {
        NDIDevice device;
        QVERIFY(device.isOpen());
        QVERIFY(device.isReadable());
        QVERIFY(!device.isWritable());
        QTest::ignoreMessage(QtDebugMsg, "check");
        QCOMPARE(device.bytesAvailable(), qint64(0));
        device.setReceiver(std::make_shared<TestReceiver>(2, 2, TestReceiver::Bgra, Qt::black));
        QTest::ignoreMessage(QtDebugMsg, "check");
        QVERIFY(device.bytesAvailable() >= 2000);
    }

    void playsThroughTheSoundDevice()
    {
        if (!m_sound)
            QSKIP("No PulseAudio server with a null sink could be started on this machine");
        const int rate = defaultSampleRate();
        QCOMPARE(rate, 48000);

        NDIDevice device;
        auto receiver = std::make_shared<TestReceiver>(2, 2, TestReceiver::Bgra, Qt::black);
        receiver->setTone(1000.0, 0.5f, rate);
        // Counted on the audio thread, inside the reads.
        std::atomic<qint64> delivered { 0 };
        std::atomic<qint64> largestRead { 0 };
        connect(
            &device, &NDIDevice::dataRead, &device,
            [&](qint64 frames) {
                delivered += frames;
                if (frames > largestRead)
                    largestRead = frames;
            },
            Qt::DirectConnection);

        AudioPlayer player;
        player.start(&device);
        // Silence first: the sink pulls while nobody is listened to.
        QTRY_VERIFY_WITH_TIMEOUT(delivered.load() > rate / 2, 10000);
        const QByteArray quiet = recordSink(600, rate);
        QVERIFY(quiet.size() > 8 * rate / 4);
        QCOMPARE(analyse(quiet, rate).peak, 0.0f);

        // The sink keeps real time: two seconds of frames take about two seconds.
        const qint64 before = delivered.load();
        QElapsedTimer timer;
        timer.start();
        QTRY_VERIFY_WITH_TIMEOUT(delivered.load() - before >= 2 * rate, 10000);
        QVERIFY2(timer.elapsed() > 1600 && timer.elapsed() < 2600, qPrintable(QString::number(timer.elapsed())));

        device.setReceiver(receiver);
        QTRY_VERIFY_WITH_TIMEOUT(receiver->samplesRead() > rate / 4, 10000);
        const ToneFigures tone = analyse(recordSink(1000, rate), rate);
        QVERIFY2(std::abs(tone.peak - 0.5f) < 0.02f, qPrintable(QString::number(tone.peak)));
        QVERIFY2(std::abs(tone.frequency - 1000.0) < 20.0, qPrintable(QString::number(tone.frequency)));
        QVERIFY(largestRead.load() <= NDIDevice::samplesPerRead);

        // Asked to quit, the thread ends: its event loop ran the sink.
        player.quit();
        QVERIFY(player.wait(5000));
        QVERIFY(player.isFinished());
    }

    void readsGoOnWithoutASoundOutput()
    {
        if (!m_sound)
            QSKIP("No PulseAudio server with a null sink could be started on this machine");
        const int rate = defaultSampleRate();
        NDIDevice device;
        auto receiver = std::make_shared<TestReceiver>(2, 2, TestReceiver::Bgra, Qt::black);
        receiver->setTone(1000.0, 0.5f, rate);
        device.setReceiver(receiver);
        std::atomic<qint64> delivered { 0 };
        connect(
            &device, &NDIDevice::dataRead, &device, [&](qint64 frames) { delivered += frames; },
            Qt::DirectConnection);
        LogCapture::install();
        AudioPlayer player;
        player.start(&device);
        QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("Sound output: ")), 10000);

        // The output goes: the loss is logged and the reads (which clock every meter) go on at the
        // sink's pace.
        QVERIFY(pactl({ QStringLiteral("unload-module"), QStringLiteral("module-null-sink") }));
        QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("Sound output lost")), 5000);
        const qint64 before = delivered.load();
        QElapsedTimer timer;
        timer.start();
        QTRY_VERIFY_WITH_TIMEOUT(delivered.load() - before >= 2 * rate, 10000);
        QVERIFY2(timer.elapsed() > 1600 && timer.elapsed() < 2600, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!logged(QStringLiteral("Sound output back")));

        // It returns: logged, and the listened sound plays on it again.
        QVERIFY(pactl({ QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
            QStringLiteral("sink_name=nullsink"), QStringLiteral("rate=48000") }));
        QVERIFY(pactl({ QStringLiteral("set-default-sink"), QStringLiteral("nullsink") }));
        QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("Sound output back: ")), 10000);
        // A new null sink may hold a new stream for up to two seconds.
        const ToneFigures tone = analyse(recordSink(3000, rate), rate);
        QVERIFY2(std::abs(tone.peak - 0.5f) < 0.02f, qPrintable(LogCapture::peek().join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(TestNDIDevice)
#include "tst_ndidevice.moc"
