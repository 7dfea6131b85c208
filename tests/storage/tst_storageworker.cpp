// Questions to the file system off the main thread: a question that hangs makes its drive "not
// answering" after the time-out and no other, the same question is not asked twice while out, the
// end waits a bounded time; and the drive figures taken from the answers.
#include "storage/drivemonitor.h"
#include "storage/drivemonitorprovider.h"
#include "storage/storageworker.h"
#include "tests/common/testenv.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTest>

#include <atomic>

class TestStorageWorker : public QObject
{
    Q_OBJECT

    DriveMonitorProvider* provider() { return DriveMonitorProvider::instance(); }

private Q_SLOTS:
    void cleanup()
    {
        provider()->setClock({});
        provider()->setBytesAvailable({});
    }

    void timeOut_data()
    {
        QTest::addColumn<int>("hangMs");
        QTest::addColumn<QVariantList>("answering"); // what answeringChanged says of the hung drive
        QTest::addRow("answers within the time-out") << 50 << QVariantList {};
        QTest::addRow("answers after it") << 1200 << QVariantList { false, true };
    }
    // A hung question marks its own drive alone; the others answer meanwhile.
    void timeOut()
    {
        QFETCH(int, hangMs);
        QFETCH(QVariantList, answering);
        StorageWorker worker(400);
        QSignalSpy changed(&worker, &StorageWorker::answeringChanged);
        QStringList answers;
        const auto note
            = [&answers](const QString& name) { return [&answers, name](const QVariant&) { answers << name; }; };
        QElapsedTimer clock;
        clock.start();
        QVERIFY(worker.ask(
            "/hung", "space", [hangMs] { return QThread::msleep(ulong(hangMs)), QVariant(1); }, this, note("hung")));
        QVERIFY(worker.ask(
            "/fine", "space", [] { return QVariant(2); }, this, note("fine")));
        QTRY_COMPARE(answers, QStringList({ "fine", "hung" }));
        QVariantList seen;
        for (const QList<QVariant>& call : changed) {
            QCOMPARE(call.at(0).toString(), QStringLiteral("/hung"));
            seen << call.at(1);
        }
        QCOMPARE(seen, answering);
        QVERIFY(worker.isAnswering("/hung") && worker.isAnswering("/fine"));
        if (!answering.isEmpty())
            QVERIFY2(clock.elapsed() >= 400, "marked before its time-out");
    }

    // While one is out the same is refused, another kind is asked; an answer to a gone context is
    // dropped.
    void oneAtATime()
    {
        StorageWorker worker;
        QSemaphore release;
        std::atomic<int> asked { 0 };
        const auto held = [&] { return ++asked, release.acquire(), QVariant(); };
        int answered = 0;
        auto context = std::make_unique<QObject>();
        QVERIFY(worker.ask("/d", "space", held, context.get(), [&](const QVariant&) { ++answered; }));
        QVERIFY(!worker.ask("/d", "space", held, this, [&](const QVariant&) { ++answered; }));
        QVERIFY(worker.ask("/d", "size", held, this, [&](const QVariant&) { ++answered; }));
        QTRY_COMPARE(asked.load(), 2);
        context.reset();
        release.release(2);
        QTRY_COMPARE(answered, 1);
        // The dropped answer's question is no longer out once it came back.
        bool again = false;
        QTRY_VERIFY(again
            || (again = worker.ask(
                    "/d", "space", [] { return QVariant(); }, this, [&](const QVariant&) { ++answered; })));
        QTRY_COMPARE(answered, 2);
    }

    // A question stuck for good holds the end up for one time-out, no longer.
    void boundedEnd()
    {
        static QSemaphore never; // outlives the thread left waiting on it
        QElapsedTimer clock;
        {
            StorageWorker worker(300);
            worker.ask("/stuck", "space", [] { return never.acquire(), QVariant(); }, this, {});
            clock.start();
        }
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        never.release();
    }

    // A sample a second old is reused; 7 GB lost count for the four samples the history holds.
    void historyAcrossSamples()
    {
        qint64 now = 0;
        provider()->setClock([&now] { return now; });
        // Second, free GB; what the sample reports: GB and fill rate.
        for (const auto& [second, free, gigabytes, fillRate] : { std::tuple { 100, 100, 100.0f, 1.0f },
                 { 101, 93, 100.0f, 1.0f }, { 102, 93, 93.0f, 4.0f }, { 104, 93, 93.0f, 4.0f },
                 { 106, 93, 93.0f, 4.0f }, { 108, 93, 93.0f, 4.0f }, { 110, 93, 93.0f, 1.0f } }) {
            now = second;
            const DriveSample sample = provider()->record("/fake/history", qint64(free) * 1'000'000'000);
            QVERIFY2(qFuzzyCompare(sample.gigabytesAvailable, gigabytes) && qFuzzyCompare(sample.fillRate, fillRate),
                qPrintable(QString::number(now)));
        }
    }

    void twoMonitorsOnOneDriveShareOneSample()
    {
        std::atomic<qint64> bytes { 40'000'000'000 };
        qint64 now = 1'000'000;
        provider()->setClock([&now] { return now; });
        provider()->setBytesAvailable([&](const QString&) { return bytes.load(); });
        DriveMonitor first, second;
        QSignalSpy firstUpdated(&first, &DriveMonitor::updated), secondUpdated(&second, &DriveMonitor::updated);
        first.setPath(TestEnv::makeFolder("shared-a"));
        second.setPath(TestEnv::makeFolder("shared-b"));
        QTRY_VERIFY(firstUpdated.size() == 1 && secondUpdated.size() == 1);
        QCOMPARE(firstUpdated.at(0), QVariantList({ 40.0f, 1.0f }));
        QCOMPARE(first.path(), QStorageInfo(TestEnv::root()).rootPath());
        QCOMPARE(second.path(), first.path());
        bytes = 39'300'000'000; // 0.7 GB gone by the next tick
        now += 2;
        QVERIFY(secondUpdated.wait(5000));
        QCOMPARE(firstUpdated.count(), 2);
        QCOMPARE(secondUpdated.at(1), firstUpdated.at(1));
        QCOMPARE(firstUpdated.at(1).at(0).toFloat(), 39.3f);
    }
};

QTEST_GUILESS_MAIN(TestStorageWorker)
#include "tst_storageworker.moc"
