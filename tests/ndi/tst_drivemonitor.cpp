// Drive sampling with a test clock and free-space query; the fill rate rule is in tst_ndirules.
#include "ndi/drivemonitor.h"
#include "ndi/drivemonitorprovider.h"
#include "tests/common/testenv.h"

#include <QHash>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTest>

#include <memory>

class TestDriveMonitor : public QObject
{
    Q_OBJECT

    DriveMonitorProvider* provider() { return DriveMonitorProvider::instance(); }

private Q_SLOTS:
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
        QTest::addRow("7 GB lost counts for four samples") << QList<qint64> { 100, 102, 104, 106, 108, 110 }
            << QList<double> { 100, 93, 93, 93, 93, 93 } << QList<float> { 100, 93, 93, 93, 93, 93 } << QList<float> { 1, 4, 4, 4, 4, 1 };
        QTest::addRow("a second apart reuses the sample") << QList<qint64> { 100, 101, 102 } << QList<double> { 10, 8.6, 8.6 }
            << QList<float> { 10, 10, 8.6f } << QList<float> { 1, 1, 2 };
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
            QVERIFY2(qFuzzyCompare(sample.gigabytesAvailable, gigabytes.at(i)) && qFuzzyCompare(sample.fillRate, fillRates.at(i)),
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

    // No report for a monitor without a path, one deleted before the tick, or one deleted by an
    // earlier monitor's handler during it.
    void onlyLiveMonitorsWithPathAreReported()
    {
        provider()->setBytesAvailable([](const QString&) { return qint64(5'000'000'000); });
        const QString folder = TestEnv::makeFolder("tick");
        auto first = std::make_unique<DriveMonitor>(), noPath = std::make_unique<DriveMonitor>(), last = std::make_unique<DriveMonitor>();
        auto* before = new DriveMonitor;
        auto* during = new DriveMonitor;
        for (DriveMonitor* m : { first.get(), before, during, last.get() })
            m->setPath(folder);
        QStringList order;
        for (DriveMonitor* m : { first.get(), noPath.get(), during, last.get() })
            connect(m, &DriveMonitor::updated, this, [&, m] { order << QString::number(m == first.get() ? 1 : m == last.get() ? 4 : 0); });
        connect(first.get(), &DriveMonitor::updated, this, [&] { delete during; });
        delete before;
        QSignalSpy lastUpdated(last.get(), &DriveMonitor::updated);
        QVERIFY(lastUpdated.wait(5000));
        QCOMPARE(order, (QStringList { "1", "4" }));
    }
};

QTEST_GUILESS_MAIN(TestDriveMonitor)
#include "tst_drivemonitor.moc"
