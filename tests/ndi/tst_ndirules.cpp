// The ndi layer: discovery and the sources model against the simulated network (NDIFind is one
// instance for the whole process, so its functions come first and form one story, in order), then
// its pure rules: reports and metadata read, commands written, file names, the level scale and the
// drive fill rate.
#include "ndi/ndifind.h"
#include "ndi/ndireceiver.h"
#include "ndi/sourcesmodel.h"
#include "ndi/xmlelementreader.h"
#include "recording/ndirecorder.h"
#include "storage/drivemonitorprovider.h"
#include "tests/common/simnetwork.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QThread>

#include <climits>
#include <limits>

using History = std::array<float, 4>;
using namespace NdiSim;

class TestNdiRules : public QObject
{
    Q_OBJECT

    SourcesModel m_model;

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

    // A claim never takes an existing file nor one handed out a moment ago, and creates nothing.
    void claims()
    {
        const QDateTime time(QDate(2024, 5, 1), QTime(14, 3, 59));
        const QString dir = TestEnv::makeFolder("claims"), taken = dir + "/B_2024-05-01_14-03-59";
        for (const QString& existing : { taken + ".mov", taken + " (3).mov" }) {
            QFile file(existing);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QCOMPARE(NDIRecorder::claimOutputPath(dir, "A", time), dir + "/A_2024-05-01_14-03-59.mov");
        for (const char* number : { " (2)", " (4)", " (5)" })
            QCOMPARE(NDIRecorder::claimOutputPath(dir, "B", time), taken + number + ".mov");
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

QTEST_GUILESS_MAIN(TestNdiRules)
#include "tst_ndirules.moc"
