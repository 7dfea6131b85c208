// The ndi layer against the simulated network, then its pure rules. NDIFind is one instance for the
// whole process, so the functions form one story, in order: discovery and the sources model first,
// then the slot receiver with real capture, pool and pulling threads; last the rules: reports and
// metadata read, commands written, file names, the level scale and the drive fill rate.
#include "ndi/ndifind.h"
#include "ndi/ndireceiver.h"
#include "ndi/receiverdisposal.h"
#include "ndi/sourcesmodel.h"
#include "ndi/xmlelementreader.h"
#include "recording/ndirecorder.h"
#include "storage/drivemonitorprovider.h"
#include "tests/common/simnetwork.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <climits>
#include <limits>
#include <thread>

using History = std::array<float, 4>;
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

class TestNdi : public QObject
{
    Q_OBJECT

    SourcesModel m_model;
    QJsonArray m_sources;

    void network(const QJsonArray& sources)
    {
        write(m_sources = sources);
        for (const QJsonValue& s : sources)
            QTRY_VERIFY_WITH_TIMEOUT(
                NDIFind::instance()->currentSources().count(s[QStringLiteral("name")].toString()), 3000);
    }

    static QJsonObject named(const QString& name, const QString& url = {})
    {
        return source(name, QJsonValue::Null, QJsonValue::Null, url);
    }

private Q_SLOTS:
    void initTestCase()
    {
        use();
        LogCapture::install();
        new QAbstractItemModelTester(&m_model, QAbstractItemModelTester::FailureReportingMode::QtTest, this);
        // As the start-up wires it: announcements cross to the main thread as queued calls.
        connect(
            NDIFind::instance(), &NDIFind::sourceAdded, &m_model, [this](QString name) { m_model.sourceAdded(name); });
    }

    void announcesNewSourcesInFinderOrder()
    {
        QTRY_COMPARE(LogCapture::peek(), QStringList { "NDI initialized" });
        write({ named("ZULU (cam)", "10.1.1.1:5961"), named("ALPHA (cam)", "10.1.1.2:5961") });
        QTRY_COMPARE(m_model.rowCount(), 2);
        QCOMPARE(m_model.sourceAt(0), QStringLiteral("ZULU (cam)"));
        QCOMPARE(m_model.data(m_model.index(1), SourcesModel::NameRole).toString(), QStringLiteral("ALPHA (cam)"));
        QCOMPARE(LogCapture::take(),
            (QStringList { "NDI initialized", "Source added: ZULU (cam)", "Source added: ALPHA (cam)" }));
    }

    // Away, a source keeps its last address and its row; back, it is not announced again.
    void aSourceThatLeavesAndComesBack()
    {
        write({ named("ALPHA (cam)", "10.1.1.3:5961") });
        // The main thread asking for the list meanwhile, as binding a slot does, hides no change.
        QElapsedTimer asking;
        for (asking.start(); NDIFind::instance()->currentSources().count("ZULU (cam)") && asking.elapsed() < 5000;)
            QThread::msleep(1);
        QTRY_COMPARE(NDIFind::instance()->urlAddress("ALPHA (cam)"), QStringLiteral("10.1.1.3:5961"));
        QVERIFY(LogCapture::contains("Source removed: ZULU (cam)"));
        QCOMPARE(NDIFind::instance()->urlAddress("ZULU (cam)"), QStringLiteral("10.1.1.1:5961"));
        write({ named("ALPHA (cam)", "10.1.1.3:5961"), named("ZULU (cam)", "10.1.1.9:5961"), named("NEW (one)") });
        QTRY_COMPARE(m_model.rowCount(), 3);
        QCOMPARE(LogCapture::take().filter("Source added"), QStringList { "Source added: NEW (one)" });
        QCOMPARE(NDIFind::instance()->urlAddress("ZULU (cam)"), QStringLiteral("10.1.1.9:5961"));
        for (const char* unknown : { "NOBODY", "NEW (one)", "zulu (cam)" }) // never seen, without address, case matters
            QCOMPARE(NDIFind::instance()->urlAddress(unknown), QString());
    }

    // The receivers' network, for this function and those after it. As sent, or the lowest
    // bandwidth's picture, first and last pixel as sent (every row is filled); levels come with every
    // pull of sound, levels-only or not, the samples interleaved stereo.
    void picturesAndLevels()
    {
        QJsonObject both = tone(0.5), negative = tone(0.5), aspect = NdiSim::video(720, 576, "UYVY", "bars");
        both.insert("peak_right", 0.25);
        negative.insert("mode", "negative");
        aspect.insert("aspect", 4.0 / 3.0);
        network({ source("HD UYVY", NdiSim::video(1920, 1080, "UYVY", "solid", "#e02010"), tone(1.0)),
            source("KEY BGRA", NdiSim::video(640, 360, "BGRA", "solid", "#80204060"), both),
            source("SD 4:3", aspect, QJsonValue::Null), source("BELOW ZERO", QJsonValue::Null, negative) });
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

    // Line ends, entities and plain text are seen in the recorder's reports.
    void xmlElement()
    {
        for (const auto& [line, name, error] : { std::tuple { "<x error='e'/>", "x", "e" },
                 { "<o error=\"o\"><i error=\"i\"/></o>", "o", "o" }, // the first element wins
                 { "<n:item xmlns:n=\"urn:x\" error=\"p\"/>", "item", "p" }, { "<record_error error=\"x", "", "" },
                 { "log: <record_started/>", "", "" } }) {
            const XmlElementInfo info = readXmlElement(line);
            QCOMPARE(QStringList({ info.name, info.error }), QStringList({ name, error }));
        }
    }

    void commandBytes()
    {
        for (const auto& [bytes, expected] :
            { std::pair { NDIRecorder::levelCommand(-34.123456f), "<record_level gain=\"-34.1235\"/>\r\n" },
                { NDIRecorder::levelCommand(1e-7f), "<record_level gain=\"1e-07\"/>\r\n" },
                { NDIRecorder::chopCommand("D:/R&D é.mov"), "<record_chop filename=\"D:/R&D \xc3\xa9.mov\"/>\r\n" } })
            QCOMPARE(bytes, QByteArray(expected));
    }

    void fileNames()
    {
        for (const auto& [source, part] : { std::pair { "R&D (Cam 1)", "R&D (Cam 1)" },
                 { "../..\\etc/evil", ".._.._etc_evil" }, { "Cam\t1\n\x7f", "Cam_1__" }, { "Kamera é", "Kamera é" } })
            QCOMPARE(
                NDIRecorder::fileNameFor(QString::fromUtf8(source), QDateTime(QDate(2023, 12, 31), QTime(23, 5, 9))),
                QString::fromUtf8(part) + "_2023-12-31_23-05-09.mov");
        // Too long for a file system: cut on a character's end, to 206 bytes of UTF-8.
        const QString smile = QString::fromUtf8("\xf0\x9f\x98\x80");
        for (const auto& [source, part] :
            { std::pair { QString(300, 'a'), QString(206, 'a') }, { smile.repeated(70), smile.repeated(51) },
                { QString(205, 'a') + "é", QString(205, 'a') }, { QString(206, 'a'), QString(206, 'a') } })
            QCOMPARE(NDIRecorder::fileNamePart(source), part);
    }

    // A free path is neither an existing file nor one handed out a moment ago; nothing is created.
    void freePath()
    {
        const QString dir = TestEnv::makeFolder("claims"), taken = dir + "/B";
        for (const QString& existing : { taken + ".mov", taken + " (3).mov" }) {
            QFile file(existing);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QCOMPARE(NDIRecorder::freePath(dir, "A.mov", {}), dir + "/A.mov");
        QCOMPARE(NDIRecorder::freePath(dir, "B.mov", {}), taken + " (2).mov");
        QCOMPARE(NDIRecorder::freePath(dir, "B.mov", { taken + " (2).mov" }), taken + " (4).mov");
        QCOMPARE(QDir(dir).entryList(QDir::Files).size(), 2);
    }

    void level()
    {
        const float nan = std::numeric_limits<float>::quiet_NaN(), infinity = std::numeric_limits<float>::infinity();
        for (const auto& [peak, level] : { std::pair { 1.0f, 74 }, { 2.0f, 81 }, { infinity, INT_MAX },
                 { std::numeric_limits<float>::denorm_min(), -1047 }, { 0.0f, -2147483574 }, { nan, -2147483574 } })
            QCOMPARE(NDIReceiver::level(peak), level);
    }

    // None yet and little are raised to 1, much is lowered to 4; freed space does not count.
    void fillRate()
    {
        for (const auto& [history, rate] : { std::pair { History { -1, -1, -1, -1 }, 1.0f },
                 { History { -1, -1, -1, 0.35f }, 1.0f }, { History { 3.5f, 3.5f, 3.5f, 3.5f }, 4.0f },
                 { History { 1.05f, -3.0f, -0.5f, 0 }, 1.5f }, { History { 1.4f, 2.8f, -2.0f, 0 }, 3.0f } })
            QCOMPARE(DriveMonitorProvider::fillRateFor(history), rate);
    }
};

QTEST_GUILESS_MAIN(TestNdi)
#include "tst_ndi.moc"
