// The ndi layer's pure rules: reports and metadata read, commands written, file names, the level
// scale and the drive fill rate.
#include "ndi/ndireceiver.h"
#include "ndi/xmlelementreader.h"
#include "recording/ndirecorder.h"
#include "storage/drivemonitorprovider.h"
#include "tests/common/testenv.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <climits>
#include <limits>

using History = std::array<float, 4>;

class TestNdiRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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

QTEST_GUILESS_MAIN(TestNdiRules)
#include "tst_ndirules.moc"
