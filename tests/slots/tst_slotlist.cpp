#include "slots/slotlistmodel.h"
#include "tests/slots/slottestsupport.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

class TestSlotList : public QObject
{
    Q_OBJECT
    SourcesModel m_sources;

private Q_SLOTS:
    void initTestCase() { SlotTest::setUp(m_sources); }

    // Numbers count up process-wide, so a shape is seen relative to its first slot: the two extra
    // slots come first, the grid counts on without gaps, at most 16 slots in all.
    void gridShapes()
    {
        for (const auto& [width, height, extra, last] :
            { std::tuple { 3, 3, 0, 9 }, { 4, 2, 2, 10 }, { 5, 3, 2, 16 } }) {
            SlotListModel model;
            QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
            model.createSlots(width, height, extra);
            QList<int> all, expected;
            for (Slot* slot : model.allSlots())
                all << slot->index0() - model.allSlots().first()->index0() + 1;
            for (int n = 1; n <= last; ++n)
                expected << n;
            QVERIFY(all == expected && model.toList() == model.allSlots().mid(extra));
            QCOMPARE(
                model.extra1() == model.allSlots().first() && model.extra2() == model.allSlots().value(1), extra > 0);
        }
    }

    // The grid reads each row's slot as `qtObject` and its properties as roles; a slot's change
    // changes its own row's role alone.
    void rolesFollowTheSlots()
    {
        SlotListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.createSlots(3, 1, 0);
        const int object = model.roleNames().key("qtObject"), name = model.roleNames().key("displayName");
        const QModelIndex row = model.index(1);
        QVERIFY(object != name && row.data(object).value<QObject*>() == model.at(1));
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.at(1)->setDisplayName(QStringLiteral("Stage"));
        QCOMPARE(row.data(name), QStringLiteral("Stage"));
        QCOMPARE(changed.size(), 1);
        QVERIFY(changed[0][0].toModelIndex() == row && changed[0][1].toModelIndex() == row);
        QCOMPARE(changed[0][2].value<QList<int>>(), QList<int> { name });
    }
};

QTEST_GUILESS_MAIN(TestSlotList)
#include "tst_slotlist.moc"
