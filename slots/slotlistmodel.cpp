#include "slots/slotlistmodel.h"

#include <algorithm>

SlotListModel::SlotListModel(QObject* parent, const QByteArray& displayRole, const QByteArray& uidRole)
    : QQmlObjectListModel<Slot>(parent, displayRole, uidRole)
{
}

SlotListModel::~SlotListModel()
{
    delete m_extra1;
    m_extra1 = nullptr;
    delete m_extra2;
    m_extra2 = nullptr;
}

QList<Slot*> SlotListModel::allSlots() const
{
    QList<Slot*> all;
    all.reserve(toList().size() + 2);
    if (m_extra1)
        all.append(m_extra1);
    if (m_extra2)
        all.append(m_extra2);
    all.append(toList());
    return all;
}

void SlotListModel::createSlots(int gridWidth, int gridHeight, int gridExtra)
{
    if (gridExtra != 0) {
        setExtra1(new Slot);
        setExtra2(new Slot);
    }
    const int total = std::min(gridWidth * gridHeight + gridExtra, MaxSlots);
    for (int n = gridExtra; n < total; ++n)
        append(new Slot);
}

void SlotListModel::setExtra1(Slot* extra1)
{
    if (extra1 == m_extra1)
        return;
    m_extra1 = extra1;
    emit extra1Changed(m_extra1);
}

void SlotListModel::setExtra2(Slot* extra2)
{
    if (extra2 == m_extra2)
        return;
    m_extra2 = extra2;
    emit extra2Changed(m_extra2);
}

void SlotListModel::selectSlot(Slot* slot, bool selected)
{
    if (selected) {
        if (slot && !m_selection.contains(slot))
            m_selection.append(slot);
    } else {
        m_selection.removeAll(slot);
    }
}
