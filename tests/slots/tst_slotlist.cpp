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

    // Numbers count up process-wide, so each shape is seen relative to its model's first slot:
    // the two extra slots come first, the full list counts on without gaps, at most 16 slots.
    void gridShapes()
    {
        for (const auto& [width, height, extra, rows] : { std::tuple { 3, 3, 0, std::pair { 1, 9 } }, { 4, 4, 0, { 1, 16 } },
                 { 4, 2, 2, { 3, 10 } }, { 5, 3, 2, { 3, 16 } } }) {
            SlotListModel model;
            QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
            model.createSlots(width, height, extra);
            const int base = model.allSlots().first()->index0() - 1;
            QList<int> shown, all, expected;
            for (Slot* slot : model.toList())
                shown << slot->index0() - base;
            for (Slot* slot : model.allSlots())
                all << slot->index0() - base;
            for (int n = rows.first; n <= rows.second; ++n)
                expected << n;
            QCOMPARE(shown, expected);
            QCOMPARE(all, QList<int>({ 1, 2 }).mid(0, extra) + expected);
            QCOMPARE(model.extra1() ? model.extra1()->index0() - base : 0, extra ? 1 : 0);
        }
    }

    void selection()
    {
        SlotListModel model;
        model.createSlots(2, 1, 0);
        Slot *a = model.at(0), *b = model.at(1);
        for (const auto& [slot, selected] : { std::pair { b, true }, { a, true }, { b, true }, { b, false }, { b, false } })
            model.selectSlot(slot, selected);
        QCOMPARE(model.selection(), QList<Slot*> { a });
        model.selectSlot(b, true);
        QCOMPARE(model.selection(), (QList<Slot*> { a, b }));
    }
};

QTEST_GUILESS_MAIN(TestSlotList)
#include "tst_slotlist.moc"
