// The ndi layer's pure rules: reports and metadata read, commands written, file names, the level
// scale and the drive fill rate, with drive sampling on a test clock and free-space query.
#include "ndi/drivemonitor.h"
#include "ndi/drivemonitorprovider.h"
#include "ndi/ndireceiver.h"
#include "ndi/ndirecorder.h"
#include "ndi/xmlelementreader.h"
#include "tests/common/testenv.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTest>

#include <cfloat>
#include <climits>
#include <limits>

using History = std::array<float, 4>;
Q_DECLARE_METATYPE(History)

class TestNdiRules : public QObject
{
    Q_OBJECT

    DriveMonitorProvider* provider() { return DriveMonitorProvider::instance(); }

private Q_SLOTS:
    void xmlElement_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("noFrames");
        QTest::addRow("line end") << QByteArray("<record_started/>\r\n") << "record_started"
                                  << "" << 0;
        QTest::addRow("entity") << QByteArray("<record_error error=\"a &amp; b\"/>") << "record_error"
                                << "a & b" << 0;
        QTest::addRow("single quotes") << QByteArray("<x error='e' no_frames='12'/>") << "x"
                                       << "e" << 12;
        QTest::addRow("largest 32-bit") << QByteArray("<s no_frames=\"2147483647\"/>") << "s"
                                        << "" << INT_MAX;
        QTest::addRow("too large") << QByteArray("<s no_frames=\"2147483648\"/>") << "s"
                                   << "" << 0;
        QTest::addRow("not a number") << QByteArray("<s no_frames=\"12abc\"/>") << "s"
                                      << "" << 0;
        QTest::addRow("first element wins") << QByteArray("<o error=\"o\"><i error=\"i\"/></o>") << "o"
                                            << "o" << 0;
        QTest::addRow("prefixed") << QByteArray("<n:item xmlns:n=\"urn:x\" error=\"p\"/>") << "item"
                                  << "p" << 0;
        QTest::addRow("plain text") << QByteArray("Something delayed everything.") << ""
                                    << "" << 0;
        QTest::addRow("broken tag") << QByteArray("<record_error error=\"x") << ""
                                    << "" << 0;
        QTest::addRow("text first") << QByteArray("log: <record_started/>") << ""
                                    << "" << 0;
    }

    void xmlElement()
    {
        QFETCH(QByteArray, line);
        const XmlElementInfo info = readXmlElement(line);
        QTEST(info.name, "name");
        QTEST(info.error, "error");
        QTEST(int(info.noFrames), "noFrames");
    }

    void commandBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected");
        QTest::addRow("-14.5") << NDIRecorder::levelCommand(-14.5f) << QByteArray("<record_level gain=\"-14.5\"/>\r\n");
        QTest::addRow("six digits") << NDIRecorder::levelCommand(-34.123456f)
                                    << QByteArray("<record_level gain=\"-34.1235\"/>\r\n");
        QTest::addRow("tiny") << NDIRecorder::levelCommand(1e-7f) << QByteArray("<record_level gain=\"1e-07\"/>\r\n");
        QTest::addRow("chop, UTF-8 as is") << NDIRecorder::chopCommand(QStringLiteral("D:/R&D é.mov"))
                                           << QByteArray("<record_chop filename=\"D:/R&D \xc3\xa9.mov\"/>\r\n");
    }

    void commandBytes()
    {
        QFETCH(QByteArray, bytes);
        QTEST(bytes, "expected");
    }

    void fileNames_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("fileName");
        QTest::addRow("spaces, parentheses, ampersand") << "R&D (Cam 1)"
                                                        << "R&D (Cam 1)_2023-12-31_23-05-09.mov";
        QTest::addRow("slashes") << "../../etc/evil"
                                 << ".._.._etc_evil_2023-12-31_23-05-09.mov";
        QTest::addRow("backslash") << "PC\\Cam"
                                   << "PC_Cam_2023-12-31_23-05-09.mov";
        QTest::addRow("control characters") << "Cam\t1\n\x7f"
                                            << "Cam_1___2023-12-31_23-05-09.mov";
        QTest::addRow("non-ASCII") << "Kamera é"
                                   << "Kamera é_2023-12-31_23-05-09.mov";
    }

    void fileNames()
    {
        QFETCH(QString, source);
        QTEST(NDIRecorder::fileNameFor(source, QDateTime(QDate(2023, 12, 31), QTime(23, 5, 9))), "fileName");
    }

    // A claim never takes an existing file nor one handed out a moment ago, and stays in the folder.
    void claims_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QStringList>("claims");
        QTest::addRow("free") << "A" << QStringList() << QStringList { "A_T.mov", "A_T (2).mov", "A_T (3).mov" };
        QTest::addRow("taken") << "B" << QStringList { "B_T.mov", "B_T (3).mov" }
                               << QStringList { "B_T (2).mov", "B_T (4).mov" };
    }

    void claims()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, existing);
        QFETCH(QStringList, claims);
        const QString dir = TestEnv::makeFolder(QStringLiteral("claim-") + QTest::currentDataTag());
        for (const QString& name : existing) {
            QFile file(dir + "/" + QString(name).replace("_T", "_2024-05-01_14-03-59"));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        for (const QString& name : claims)
            QCOMPARE(NDIRecorder::claimOutputPath(dir, source, QDateTime(QDate(2024, 5, 1), QTime(14, 3, 59))),
                dir + "/" + QString(name).replace("_T", "_2024-05-01_14-03-59"));
        QCOMPARE(QDir(dir).entryList(QDir::Files).size(), existing.size()); // claiming creates nothing
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
        QTest::addRow("denormal") << std::numeric_limits<float>::denorm_min() << -1047;
        QTest::addRow("zero") << 0.0f << -2147483574;
        QTest::addRow("negative") << -0.5f << -2147483574;
        QTest::addRow("NaN") << std::numeric_limits<float>::quiet_NaN() << -2147483574;
    }

    void level()
    {
        QFETCH(float, peak);
        QTEST(NDIReceiver::level(peak), "level");
    }

    void fillRate_data()
    {
        QTest::addColumn<History>("history");
        QTest::addColumn<float>("fillRate");
        QTest::addRow("no values yet") << History { -1, -1, -1, -1 } << 1.0f;
        QTest::addRow("raised to 1") << History { -1, -1, -1, 0.35f } << 1.0f;
        QTest::addRow("0.7 and 1.4") << History { 0.7f, 1.4f, 0, -1 } << 1.5f;
        QTest::addRow("lowered to 4") << History { 3.5f, 3.5f, 3.5f, 3.5f } << 4.0f;
        QTest::addRow("freed space does not count") << History { 1.05f, -3.0f, -0.5f, 0 } << 1.5f;
        QTest::addRow("mean of positives") << History { 1.4f, 2.8f, -2.0f, 0 } << 3.0f;
    }

    void fillRate()
    {
        QFETCH(History, history);
        QTEST(DriveMonitorProvider::fillRateFor(history), "fillRate");
    }

    void cleanup()
    {
        provider()->setClock({});
        provider()->setBytesAvailable({});
    }

    // Free space in GB at successive sample times; what each sample reports.
    void historyAcrossSamples_data()
    {
        QTest::addColumn<QList<qint64>>("seconds");
        QTest::addColumn<QList<double>>("free");
        QTest::addColumn<QList<float>>("gigabytes");
        QTest::addColumn<QList<float>>("fillRates");
        QTest::addRow("7 GB lost counts for four samples")
            << QList<qint64> { 100, 102, 104, 106, 108, 110 } << QList<double> { 100, 93, 93, 93, 93, 93 }
            << QList<float> { 100, 93, 93, 93, 93, 93 } << QList<float> { 1, 4, 4, 4, 4, 1 };
        QTest::addRow("a second apart reuses the sample")
            << QList<qint64> { 100, 101, 102 } << QList<double> { 10, 8.6, 8.6 } << QList<float> { 10, 10, 8.6f }
            << QList<float> { 1, 1, 2 };
        QTest::addRow("same second") << QList<qint64> { 100, 100, 103 } << QList<double> { 10, 3, 9.3 }
                                     << QList<float> { 10, 10, 9.3f } << QList<float> { 1, 1, 1 };
    }

    void historyAcrossSamples()
    {
        QFETCH(QList<qint64>, seconds);
        QFETCH(QList<double>, free);
        QFETCH(QList<float>, gigabytes);
        QFETCH(QList<float>, fillRates);
        const QString root = QStringLiteral("/fake/") + QTest::currentDataTag(); // rows apart in the shared table
        qint64 now = 0, bytes = 0;
        provider()->setClock([&now] { return now; });
        provider()->setBytesAvailable([&bytes, root](const QString& path) { return path == root ? bytes : 0; });
        for (int i = 0; i < seconds.size(); ++i) {
            now = seconds.at(i);
            bytes = qint64(free.at(i) * 1e9);
            const DriveSample sample = provider()->sample(root);
            QVERIFY2(qFuzzyCompare(sample.gigabytesAvailable, gigabytes.at(i))
                    && qFuzzyCompare(sample.fillRate, fillRates.at(i)),
                qPrintable(QString::number(i)));
        }
    }

    void twoMonitorsOnOneDriveShareOneSample()
    {
        QHash<QString, int> queries;
        qint64 bytes = 40'000'000'000, now = 1'000'000;
        provider()->setClock([&now] { return now; });
        provider()->setBytesAvailable([&](const QString& root) { return ++queries[root], bytes; });
        DriveMonitor first, second;
        QSignalSpy firstUpdated(&first, &DriveMonitor::updated), secondUpdated(&second, &DriveMonitor::updated);
        QCOMPARE(first.setPath(TestEnv::makeFolder("shared-a")), 40.0f);
        QCOMPARE(second.setPath(TestEnv::makeFolder("shared-b")), 40.0f);
        QCOMPARE(first.path(), QStorageInfo(TestEnv::root()).rootPath());
        QCOMPARE(second.path(), first.path());
        QCOMPARE(queries.value(first.path()), 1);
        QCOMPARE(firstUpdated.count() + secondUpdated.count(), 0);
        bytes = 39'300'000'000; // 0.7 GB gone by the next tick
        now += 2;
        QVERIFY(secondUpdated.wait(5000));
        QCOMPARE(firstUpdated.count(), 1);
        QCOMPARE(secondUpdated.count(), 1);
        QCOMPARE(firstUpdated.at(0).at(0).toFloat(), 39.3f);
        QVERIFY(qFuzzyCompare(firstUpdated.at(0).at(1).toFloat(), 1.0f));
        QCOMPARE(secondUpdated.at(0), firstUpdated.at(0));
        QCOMPARE(queries.value(first.path()), 2); // one history step for both
    }
};

QTEST_GUILESS_MAIN(TestNdiRules)
#include "tst_ndirules.moc"
