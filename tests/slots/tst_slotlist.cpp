#include "ndi/sourcesmodel.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "slots/slotlistrecorder.h"
#include "tests/slots/slottestsupport.h"

#include <QAbstractItemModelTester>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

class TestSlotList : public QObject
{
    Q_OBJECT

private:
    static QList<int> numbers(const QList<Slot*>& slotList)
    {
        QList<int> list;
        for (const Slot* slot : slotList)
            list << slot->index0();
        return list;
    }
    static QList<int> range(int first, int last)
    {
        QList<int> list;
        for (int n = first; n <= last; ++n)
            list << n;
        return list;
    }

private Q_SLOTS:
    void initTestCase()
    {
        SlotTest::setUpApplication();
        SlotTest::setUpNetwork({ QStringLiteral("A"), QStringLiteral("B") });
        SlotTest::clearStore();
        SettingsModel::instance()->setLocation(TestEnv::makeFolder(QStringLiteral("a")));
        SettingsModel::instance()->setLocationB(TestEnv::makeFolder(QStringLiteral("b")));
    }

    // Numbers are process-wide and count up with every slot made, so the shapes are compared
    // relative to the first slot of each model.
    void gridShapes_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("extra");
        QTest::addColumn<bool>("hasExtras");
        QTest::addColumn<QList<int>>("rows");
        QTest::addRow("33: nine regular slots") << 3 << 3 << 0 << false << range(1, 9);
        QTest::addRow("44: sixteen regular slots") << 4 << 4 << 0 << false << range(1, 16);
        QTest::addRow("242: special 1 and 2, regular 3 to 10") << 4 << 2 << 2 << true << range(3, 10);
        QTest::addRow("253: capped at 16") << 5 << 3 << 2 << true << range(3, 16);
    }
    void gridShapes()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, extra);
        QFETCH(bool, hasExtras);
        QFETCH(QList<int>, rows);
        SlotListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy countSpy(&model, &QQmlObjectListModelBase::countChanged);
        model.createSlots(width, height, extra);
        const QList<Slot*> all = model.allSlots();
        QVERIFY(!all.isEmpty());
        const int base = all.first()->index0() - 1;
        QList<int> relative;
        for (Slot* slot : model.toList())
            relative << slot->index0() - base;
        QCOMPARE(relative, rows);
        QCOMPARE(model.extra1() != nullptr, hasExtras);
        QCOMPARE(model.extra2() != nullptr, hasExtras);
        if (hasExtras) {
            QCOMPARE(model.extra1()->index0() - base, 1);
            QCOMPARE(model.extra2()->index0() - base, 2);
            QCOMPARE(model.extra1()->name(), QStringLiteral("Slot %1").arg(base + 1));
        }
        // The full list counts from 1 without gaps: position n holds slot number n.
        QCOMPARE(numbers(all), range(base + 1, base + int(all.size())));
        QVERIFY(all.size() <= 16);
        QCOMPARE(countSpy.count(), rows.size());
        QCOMPARE(model.count(), rows.size());
    }

    void rolesOfTheSlotList()
    {
        SlotListModel model;
        const QHash<int, QByteArray> roles = model.roleNames();
        QVERIFY(!roles.contains(0));
        QCOMPARE(roles.value(256), QByteArray("qtObject"));
        QCOMPARE(roles.value(257), QByteArray("objectName"));
        QCOMPARE(roles.value(258), QByteArray("index0"));
        QCOMPARE(roles.value(282), QByteArray("displayName"));
        QCOMPARE(QByteArray(model.metaObject()->className()), QByteArray("SlotListModel"));
    }

    void destructionOrder()
    {
        auto model = std::make_unique<SlotListModel>();
        model->createSlots(2, 2, 2);
        QStringList order;
        for (Slot* slot : model->allSlots()) {
            const QString name = slot->name();
            connect(slot, &QObject::destroyed, this, [&order, name] { order << name; });
        }
        const QList<Slot*> all = model->allSlots();
        QStringList expected;
        for (Slot* slot : all)
            expected << slot->name();
        model.reset();
        QCOMPARE(order, expected);
    }

    void extraSetters()
    {
        SlotListModel model;
        Slot first;
        Slot second;
        QSignalSpy spy1(&model, &SlotListModel::extra1Changed);
        QSignalSpy spy2(&model, &SlotListModel::extra2Changed);
        model.setExtra1(&first);
        model.setExtra1(&first);
        model.setExtra2(&second);
        QCOMPARE(spy1.count(), 1);
        QCOMPARE(spy1.at(0).at(0).value<Slot*>(), &first);
        QCOMPARE(spy2.count(), 1);
        QCOMPARE(model.allSlots(), (QList<Slot*> { &first, &second }));
        // Giving the slots back before the model deletes them.
        model.setExtra1(nullptr);
        model.setExtra2(nullptr);
        QCOMPARE(spy1.count(), 2);
        QCOMPARE(spy1.at(1).at(0).value<Slot*>(), nullptr);
        QVERIFY(model.allSlots().isEmpty());
    }

    void selection()
    {
        SlotListModel model;
        model.createSlots(2, 1, 0);
        Slot* a = model.at(0);
        Slot* b = model.at(1);
        model.selectSlot(b, true);
        model.selectSlot(a, true);
        model.selectSlot(b, true);
        QCOMPARE(model.selection(), (QList<Slot*> { b, a }));
        model.selectSlot(b, false);
        model.selectSlot(b, false);
        QCOMPARE(model.selection(), QList<Slot*> { a });
    }

    void recordAll()
    {
        if (!SlotTest::recordingProgramExists())
            QSKIP("the recording program has not been built");
        SourcesModel sources;
        Slot::setSourcesModel(&sources);
        SlotListModel model;
        model.createSlots(4, 1, 0);
        Slot* bound = model.at(0);
        Slot* unbound = model.at(1);
        Slot* viewing = model.at(2);
        Slot* second = model.at(3);
        QCOMPARE(bound->connectSource(QStringLiteral("A")), QStringLiteral("success"));
        viewing->setViewingOnly(true);
        QCOMPARE(viewing->connectSource(QStringLiteral("B")), QStringLiteral("success"));
        QCOMPARE(second->connectSource(QStringLiteral("B")), QStringLiteral("success"));

        SlotListRecorder recorder(&model);
        QSignalSpy flagSpy(&recorder, &SlotListRecorder::isRecordingAllChanged);
        recorder.toggleRecordingAll();
        QCOMPARE(flagSpy.count(), 1);
        QCOMPARE(flagSpy.at(0).at(0).toBool(), true);
        QVERIFY(recorder.isRecordingAll());
        QVERIFY(bound->isWaiting());
        QVERIFY(second->isWaiting());
        QVERIFY(!unbound->isWaiting() && !unbound->isRecording());
        QVERIFY(!viewing->isWaiting() && !viewing->isRecording());
        // Waiting slots are not recording yet.
        QVERIFY(!recorder.isRecordingAny());
        QTRY_VERIFY_WITH_TIMEOUT(bound->isRecording() || second->isRecording(), 20000);
        QVERIFY(recorder.isRecordingAny());
        QTRY_VERIFY_WITH_TIMEOUT(bound->isRecording() && second->isRecording(), 20000);

        // Stopping every slot by hand leaves the flag; the next press stops nothing and clears it.
        QSignalSpy stopped(bound, &Slot::recordingStopped);
        bound->stopRecording();
        second->stopRecording();
        QVERIFY(!recorder.isRecordingAny());
        QVERIFY(recorder.isRecordingAll());
        recorder.toggleRecordingAll();
        QCOMPARE(flagSpy.count(), 2);
        QCOMPARE(flagSpy.at(1).at(0).toBool(), false);
        QCOMPARE(stopped.count(), 1);

        // Start all and stop all while the slots still wait.
        recorder.toggleRecordingAll();
        QVERIFY(bound->isWaiting());
        recorder.toggleRecordingAll();
        QVERIFY(!bound->isWaiting() && !bound->isRecording());
        QCOMPARE(stopped.count(), 2);
        QCOMPARE(stopped.at(1).at(0).value<Slot::StopReason>(), Slot::User);
        QCOMPARE(flagSpy.count(), 4);
        Slot::setSourcesModel(nullptr);
    }

    void recordAllWithNothingToStart()
    {
        SlotListModel model;
        model.createSlots(2, 1, 0);
        SlotListRecorder recorder(&model);
        QSignalSpy flagSpy(&recorder, &SlotListRecorder::isRecordingAllChanged);
        recorder.toggleRecordingAll();
        QCOMPARE(flagSpy.count(), 1);
        QVERIFY(recorder.isRecordingAll());
        QVERIFY(!model.at(0)->isWaiting());
        recorder.setIsRecordingAll(true);
        QCOMPARE(flagSpy.count(), 1);
        recorder.toggleRecordingAll();
        QCOMPARE(flagSpy.count(), 2);
        QVERIFY(!recorder.isRecordingAll());
    }
};

QTEST_GUILESS_MAIN(TestSlotList)
#include "tst_slotlist.moc"
