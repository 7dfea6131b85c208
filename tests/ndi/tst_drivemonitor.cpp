#include "ndi/drivemonitor.h"
#include "ndi/drivemonitorprovider.h"
#include "tests/common/testenv.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTest>

#include <sys/mount.h>

#include <algorithm>
#include <array>
#include <memory>

using History = std::array<float, 4>;
Q_DECLARE_METATYPE(History)

class TestDriveMonitor : public QObject
{
    Q_OBJECT

private:
    DriveMonitorProvider* provider() { return DriveMonitorProvider::instance(); }

    QString m_mountPoint;

private Q_SLOTS:
    void cleanup()
    {
        provider()->setClock({});
        provider()->setBytesAvailable({});
        if (!m_mountPoint.isEmpty()) {
            ::umount2(m_mountPoint.toLocal8Bit().constData(), MNT_DETACH);
            m_mountPoint.clear();
        }
    }

    void fillRate_data()
    {
        QTest::addColumn<History>("history");
        QTest::addColumn<float>("fillRate");
        QTest::addRow("no values yet gives 1") << History { -1, -1, -1, -1 } << 1.0f;
        QTest::addRow("0.35 is raised to 1") << History { -1, -1, -1, 0.35f } << 1.0f;
        QTest::addRow("0.7 and 1.4 give 1.5") << History { 0.7f, 1.4f, 0, -1 } << 1.5f;
        QTest::addRow("3.5 each is lowered to 4") << History { 3.5f, 3.5f, 3.5f, 3.5f } << 4.0f;
        QTest::addRow("7 GB at once gives 4") << History { 7.0f, -1, -1, -1 } << 4.0f;
        QTest::addRow("freed space does not count") << History { 1.05f, -3.0f, -0.5f, 0 } << 1.5f;
        QTest::addRow("mean of positives only") << History { 1.4f, 2.8f, -2.0f, 0 } << 3.0f;
    }

    void fillRate()
    {
        QFETCH(History, history);
        QFETCH(float, fillRate);
        QCOMPARE(DriveMonitorProvider::fillRateFor(history), fillRate);
    }

    // Free space in GB at successive sample times; the fill rate each sample reports.
    void historyAcrossSamples_data()
    {
        QTest::addColumn<QList<qint64>>("seconds");
        QTest::addColumn<QList<double>>("freeGigabytes");
        QTest::addColumn<QList<float>>("gigabytes");
        QTest::addColumn<QList<float>>("fillRates");
        QTest::addRow("unchanged drive stays at 1")
            << QList<qint64> { 100, 102, 104, 106 } << QList<double> { 50, 50, 50, 50 }
            << QList<float> { 50, 50, 50, 50 } << QList<float> { 1, 1, 1, 1 };
        QTest::addRow("7 GB lost counts for four samples")
            << QList<qint64> { 100, 102, 104, 106, 108, 110 } << QList<double> { 100, 93, 93, 93, 93, 93 }
            << QList<float> { 100, 93, 93, 93, 93, 93 } << QList<float> { 1, 4, 4, 4, 4, 1 };
        QTest::addRow("first sample of a drive does not count")
            << QList<qint64> { 100, 102 } << QList<double> { 2, 2 } << QList<float> { 2, 2 } << QList<float> { 1, 1 };
        QTest::addRow("a second apart reuses the sample")
            << QList<qint64> { 100, 101, 102 } << QList<double> { 10, 8.6, 8.6 } << QList<float> { 10, 10, 8.6f }
            << QList<float> { 1, 1, 2 };
        QTest::addRow("same second reuses the sample")
            << QList<qint64> { 100, 100, 103 } << QList<double> { 10, 3, 9.3 } << QList<float> { 10, 10, 9.3f }
            << QList<float> { 1, 1, 1 };
    }

    void historyAcrossSamples()
    {
        QFETCH(QList<qint64>, seconds);
        QFETCH(QList<double>, freeGigabytes);
        QFETCH(QList<float>, gigabytes);
        QFETCH(QList<float>, fillRates);
        // A drive name of its own per row keeps the rows apart in the shared table.
        const QString root = QStringLiteral("/fake/") + QLatin1String(QTest::currentDataTag());
        qint64 now = 0;
        qint64 bytes = 0;
        provider()->setClock([&now] { return now; });
        provider()->setBytesAvailable([&bytes, root](const QString& path) { return path == root ? bytes : 0; });
        for (int i = 0; i < seconds.size(); ++i) {
            now = seconds.at(i);
            bytes = qint64(freeGigabytes.at(i) * 1e9);
            const DriveSample sample = provider()->sample(root);
            QVERIFY2(qFuzzyCompare(sample.gigabytesAvailable, gigabytes.at(i)), qPrintable(QString::number(i)));
            QVERIFY2(qFuzzyCompare(sample.fillRate, fillRates.at(i)), qPrintable(QString::number(i)));
        }
    }

    void setPathReturnsFreeSpaceWithoutSignal()
    {
        provider()->setBytesAvailable([](const QString&) { return qint64(123456789012); });
        DriveMonitor monitor;
        QSignalSpy updated(&monitor, &DriveMonitor::updated);
        const QString folder = TestEnv::makeFolder(QStringLiteral("setpath"));
        QCOMPARE(monitor.setPath(folder), 123.456789012f);
        QCOMPARE(monitor.path(), QStorageInfo(folder).rootPath());
        QCOMPARE(updated.count(), 0);
    }

    void twoMonitorsOnOneDriveShareOneSample()
    {
        QHash<QString, int> queries;
        qint64 bytes = 40'000'000'000;
        qint64 now = 1'000'000;
        provider()->setClock([&now] { return now; });
        provider()->setBytesAvailable([&](const QString& root) {
            ++queries[root];
            return bytes;
        });
        DriveMonitor first;
        DriveMonitor second;
        first.setPath(TestEnv::makeFolder(QStringLiteral("shared-a")));
        second.setPath(TestEnv::makeFolder(QStringLiteral("shared-b")));
        QCOMPARE(first.path(), second.path());
        QCOMPARE(queries.value(first.path()), 1); // the second setPath reused the first sample

        bytes = 39'300'000'000; // 0.7 GB gone by the next tick
        now += 2;
        QSignalSpy firstUpdated(&first, &DriveMonitor::updated);
        QSignalSpy secondUpdated(&second, &DriveMonitor::updated);
        QVERIFY(secondUpdated.wait(5000));
        QCOMPARE(firstUpdated.count(), 1);
        QCOMPARE(secondUpdated.count(), 1);
        QCOMPARE(firstUpdated.at(0), secondUpdated.at(0));
        QCOMPARE(firstUpdated.at(0).at(0).toFloat(), 39.3f);
        QCOMPARE(queries.value(first.path()), 2); // one history step for both monitors
        const DriveSample shared = provider()->sample(first.path());
        QVERIFY(qAbs(shared.consumption[3] - 0.7f) < 1e-4f);
        QCOMPARE(firstUpdated.at(0).at(1).toFloat(), shared.fillRate);
    }

    // A monitor without a path, one deleted between ticks and one deleted by an earlier monitor's
    // handler during the tick get no report; the others get theirs in registration order.
    void onlyLiveMonitorsWithPathAreReported()
    {
        provider()->setBytesAvailable([](const QString&) { return qint64(5'000'000'000); });
        const QString folder = TestEnv::makeFolder(QStringLiteral("tick"));
        QStringList order;
        auto first = std::make_unique<DriveMonitor>();
        auto noPath = std::make_unique<DriveMonitor>();
        auto deletedBefore = new DriveMonitor;
        auto deletedDuring = new DriveMonitor;
        auto last = std::make_unique<DriveMonitor>();
        for (DriveMonitor* m : { first.get(), deletedBefore, deletedDuring, last.get() })
            m->setPath(folder);
        QSignalSpy noPathUpdated(noPath.get(), &DriveMonitor::updated);
        QSignalSpy beforeUpdated(deletedBefore, &DriveMonitor::updated);
        QSignalSpy duringUpdated(deletedDuring, &DriveMonitor::updated);
        QSignalSpy lastUpdated(last.get(), &DriveMonitor::updated);
        connect(first.get(), &DriveMonitor::updated, this, [&] {
            order << QStringLiteral("first");
            delete deletedDuring;
        });
        connect(last.get(), &DriveMonitor::updated, this, [&] { order << QStringLiteral("last"); });
        delete deletedBefore;
        const int registered = provider()->monitorCount();

        QVERIFY(lastUpdated.wait(5000));
        QCOMPARE(order, (QStringList { QStringLiteral("first"), QStringLiteral("last") }));
        QCOMPARE(noPathUpdated.count(), 0);
        QCOMPARE(beforeUpdated.count(), 0);
        QCOMPARE(duringUpdated.count(), 0);
        QCOMPARE(provider()->monitorCount(), registered - 1);
    }

    void realDriveFillsUp()
    {
        m_mountPoint = TestEnv::makeFolder(QStringLiteral("tmpfs"));
        if (::mount("tmpfs", m_mountPoint.toLocal8Bit().constData(), "tmpfs", 0, "size=64M") != 0) {
            m_mountPoint.clear();
            QSKIP("Mounting a tmpfs is not permitted here");
        }
        QCOMPARE(QStorageInfo(m_mountPoint).rootPath(), m_mountPoint);

        DriveMonitor monitor;
        QSignalSpy updated(&monitor, &DriveMonitor::updated);
        const float empty = monitor.setPath(m_mountPoint);
        QVERIFY2(qAbs(empty - 0.067108864f) < 0.0005f, qPrintable(QString::number(empty)));

        QFile file(m_mountPoint + QStringLiteral("/fill.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray block(1 << 20, 'x');
        for (int i = 0; i < 40; ++i)
            QCOMPARE(file.write(block), qint64(block.size()));
        file.close();

        // The next sample more than a second after setPath shows the 40 MiB gone.
        QTRY_VERIFY_WITH_TIMEOUT(!updated.isEmpty() && updated.last().at(0).toFloat() < 0.03f, 8000);
        const float now = updated.last().at(0).toFloat();
        QVERIFY2(qAbs(now - (0.067108864f - 0.041943040f)) < 0.0005f, qPrintable(QString::number(now)));
        QCOMPARE(updated.last().at(1).toFloat(), 1.0f); // 0.04 GB is far below 0.7 GB per sample
        // The 40 MiB are in the drive's history (among the newest values, however late we look).
        const DriveSample sample = provider()->sample(m_mountPoint);
        QVERIFY(std::any_of(sample.consumption.cbegin(), sample.consumption.cend(),
            [](float value) { return qAbs(value - 0.041943040f) < 0.0005f; }));

        // Freed space never lowers the fill rate and does not count.
        QVERIFY(QFile::remove(file.fileName()));
        const int before = updated.count();
        QTRY_VERIFY_WITH_TIMEOUT(updated.count() > before && updated.last().at(0).toFloat() > 0.06f, 8000);
        QCOMPARE(updated.last().at(1).toFloat(), 1.0f);
    }
};

QTEST_GUILESS_MAIN(TestDriveMonitor)
#include "tst_drivemonitor.moc"
