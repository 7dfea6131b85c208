#include "tests/qml/fakeslotlist.h"

#include <QMetaMethod>

void FakeSlotList::setRows(const QList<QObject*>& rows)
{
    beginResetModel();
    for (QObject* row : std::as_const(m_rows))
        disconnect(row, nullptr, this, nullptr);
    m_rows = rows;
    m_roles.clear();
    m_roleForSignal.clear();
    m_roles.insert(Qt::UserRole, "qtObject");
    if (!rows.isEmpty()) {
        const QMetaObject* meta = rows.first()->metaObject();
        for (int i = 0; i < meta->propertyCount(); ++i) {
            const QMetaProperty property = meta->property(i);
            const int role = Qt::UserRole + 1 + i;
            m_roles.insert(role, property.name());
            if (property.hasNotifySignal())
                m_roleForSignal.insert(property.notifySignalIndex(), role);
        }
        const QMetaMethod handler = staticMetaObject.method(staticMetaObject.indexOfSlot("rowChanged()"));
        for (QObject* row : rows) {
            for (int i = 0; i < meta->propertyCount(); ++i) {
                const QMetaProperty property = meta->property(i);
                if (property.hasNotifySignal())
                    connect(row, property.notifySignal(), this, handler);
            }
        }
    }
    endResetModel();
    emit countChanged();
}

void FakeSlotList::setExtra1(QObject* slot)
{
    if (m_extra1 == slot)
        return;
    m_extra1 = slot;
    emit extra1Changed();
}

void FakeSlotList::setExtra2(QObject* slot)
{
    if (m_extra2 == slot)
        return;
    m_extra2 = slot;
    emit extra2Changed();
}

int FakeSlotList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant FakeSlotList::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    QObject* row = m_rows.at(index.row());
    if (role == Qt::UserRole)
        return QVariant::fromValue(row);
    const QByteArray name = m_roles.value(role);
    return name.isEmpty() ? QVariant() : row->property(name.constData());
}

QObject* FakeSlotList::get(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows.at(row) : nullptr;
}

void FakeSlotList::rowChanged()
{
    const int row = int(m_rows.indexOf(sender()));
    const int role = m_roleForSignal.value(senderSignalIndex(), -1);
    if (row < 0 || role < 0)
        return;
    emit dataChanged(index(row), index(row), { role });
}

void FakeRecordAll::setIsRecordingAll(bool value)
{
    if (m_all == value)
        return;
    m_all = value;
    emit isRecordingAllChanged();
}

void FakeRecordAll::setIsRecordingAny(bool value)
{
    if (m_any == value)
        return;
    m_any = value;
    emit isRecordingAnyChanged();
}
