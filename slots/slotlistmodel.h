#pragma once

#include "slots/qqmlobjectlistmodel.h"
#include "slots/slot.h"

#include <QList>
#include <QSet>

// Every slot of the running system. The rows are the regular grid slots; the up to two special
// slots above the grid are held in extra1 and extra2. The model owns all of them.
class SlotListModel : public QQmlObjectListModel<Slot>
{
    Q_OBJECT
    Q_PROPERTY(Slot* extra1 READ extra1 WRITE setExtra1 NOTIFY extra1Changed)
    Q_PROPERTY(Slot* extra2 READ extra2 WRITE setExtra2 NOTIFY extra2Changed)

public:
    static constexpr int MaxSlots = 16;

    explicit SlotListModel(QObject* parent = nullptr, const QByteArray& displayRole = QByteArray(),
        const QByteArray& uidRole = QByteArray());
    // Deletes extra1, then extra2; the regular slots go with the base, in the order they were added.
    ~SlotListModel() override;

    Slot* extra1() const { return m_extra1; }
    Slot* extra2() const { return m_extra2; }

    // extra1, extra2 (where set), then the rows: the n-th entry is slot number n.
    QList<Slot*> allSlots() const;

    // The start-up's slots for a grid: with special cells, extra1 and extra2 first (slots 1 and 2),
    // then regular slots up to 16 slots in all.
    void createSlots(int gridWidth, int gridHeight, int gridExtra);

    // What selectSlot collected, in order of selection.
    QList<Slot*> selection() const { return m_selection; }

public Q_SLOTS:
    void setExtra1(Slot* extra1);
    void setExtra2(Slot* extra2);
    void selectSlot(Slot* slot, bool selected);

Q_SIGNALS:
    void extra1Changed(Slot* extra1);
    void extra2Changed(Slot* extra2);

private:
    Slot* m_extra1 = nullptr;
    Slot* m_extra2 = nullptr;
    QList<Slot*> m_selection;
};
