#include "slots/slotlistmodel.h"
#include "tests/slots/slottestsupport.h"

#include <QAbstractItemModelTester>
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
};

QTEST_GUILESS_MAIN(TestSlotList)
#include "tst_slotlist.moc"
