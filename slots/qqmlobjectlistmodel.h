#pragma once

#include "slots/qqmlobjectlistmodelbase.h"

#include <QDebug>
#include <QHash>
#include <QList>
#include <QMetaMethod>
#include <QMetaObject>
#include <QMetaProperty>

#include <type_traits>
#include <utility>

// A list model over QObject items of class T: every meta-property of T is a role (257 + its
// property index), every notify signal becomes a dataChanged for exactly that role, items without
// a parent are adopted and deleted (deferred) when they leave. No Q_OBJECT here: the meta-object
// is the base's, so QML sees the same interface for every T.
template <typename T> class QQmlObjectListModel : public QQmlObjectListModelBase
{
    static_assert(std::is_base_of_v<QObject, T>, "items must be QObjects");

public:
    static constexpr int QtObjectRole = Qt::UserRole;
    static constexpr int FirstPropertyRole = Qt::UserRole + 1;

    explicit QQmlObjectListModel(QObject* parent = nullptr, const QByteArray& displayRole = QByteArray(),
        const QByteArray& uidRole = QByteArray())
        : QQmlObjectListModelBase(parent)
        , m_uidRoleName(uidRole)
        , m_displayRoleName(displayRole)
        , m_metaObj(T::staticMetaObject)
    {
        reservedRoleNames();
        const QMetaObject* own = QQmlObjectListModelBase::metaObject();
        m_handler = own->method(own->indexOfMethod("onItemPropertyChanged()"));
        if (!m_displayRoleName.isEmpty())
            m_roles.insert(Qt::DisplayRole, QByteArrayLiteral("display"));
        m_roles.insert(QtObjectRole, QByteArrayLiteral("qtObject"));
        for (int i = 0; i < m_metaObj.propertyCount(); ++i) {
            const int role = FirstPropertyRole + i;
            const QMetaProperty property = m_metaObj.property(i);
            const QByteArray name(property.name());
            if (reservedRoleNames().contains(name)) {
                qWarning().noquote()
                    << "Can't have" << QString::fromLatin1(name) << "as a role name in"
                    << QStringLiteral("QQmlObjectListModel<%1>").arg(QString::fromLatin1(m_metaObj.className()));
                continue;
            }
            m_roles.insert(role, name);
            if (property.hasNotifySignal())
                m_signalIndexToRole.insert(property.notifySignalIndex(), role);
        }
    }

    ~QQmlObjectListModel() override
    {
        // Children are deleted by ~QObject; nothing an item does while it dies may reach us.
        for (T* item : std::as_const(m_items))
            QObject::disconnect(item, nullptr, this, nullptr);
    }

    // QAbstractItemModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        // A flat list: rows exist only under the root, or views would see every row as a subtree.
        return parent.isValid() ? 0 : int(m_items.size());
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        T* item = itemAt(index);
        const QByteArray name = roleName(role);
        if (!item || name.isEmpty())
            return QVariant();
        if (role == QtObjectRole)
            return QVariant::fromValue(static_cast<QObject*>(item));
        return item->property(name.constData());
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        T* item = itemAt(index);
        const QByteArray name = roleName(role);
        if (!item || role == QtObjectRole || name.isEmpty())
            return false;
        return item->setProperty(name.constData(), value);
    }

    QHash<int, QByteArray> roleNames() const override { return m_roles; }

    // Direct access for C++ readers, in row order.
    const QList<T*>& toList() const { return m_items; }
    T* at(int idx) const { return (idx >= 0 && idx < m_items.size()) ? m_items.at(idx) : nullptr; }
    typename QList<T*>::const_iterator begin() const { return m_items.cbegin(); }
    typename QList<T*>::const_iterator end() const { return m_items.cend(); }

    // Invokable operations
    int size() const override { return m_count; }
    int count() const override { return m_count; }
    bool isEmpty() const override { return m_items.isEmpty(); }
    bool contains(QObject* item) const override { return indexOf(item) >= 0; }

    int indexOf(QObject* item) const override
    {
        T* typed = qobject_cast<T*>(item);
        return typed ? int(m_items.indexOf(typed)) : -1;
    }

    int roleForName(const QByteArray& name) const override
    {
        for (auto it = m_roles.cbegin(); it != m_roles.cend(); ++it) {
            if (it.value() == name)
                return it.key();
        }
        return -1;
    }

    void clear() override
    {
        if (m_items.isEmpty())
            return;
        beginRemoveRows(QModelIndex(), 0, int(m_items.size()) - 1);
        const QList<T*> items = std::exchange(m_items, QList<T*>());
        for (int i = 0; i < items.size(); ++i) {
            if (items.indexOf(items.at(i)) == i)
                dereferenceItem(items.at(i));
        }
        endRemoveRows();
        updateCounter();
    }

    void append(QObject* item) override { insertAt(int(m_items.size()), qobject_cast<T*>(item)); }
    void prepend(QObject* item) override { insertAt(0, qobject_cast<T*>(item)); }

    void insert(int idx, QObject* item) override
    {
        if (idx < 0 || idx > m_items.size())
            return;
        insertAt(idx, qobject_cast<T*>(item));
    }

    void move(int idx, int pos) override
    {
        const int size = int(m_items.size());
        if (idx == pos || idx < 0 || pos < 0 || idx >= size || pos >= size)
            return;
        const int from = qMax(idx, pos);
        const int to = qMin(idx, pos);
        beginMoveRows(QModelIndex(), from, from, QModelIndex(), to);
        m_items.move(from, to);
        endMoveRows();
    }

    void remove(QObject* item) override
    {
        const int idx = indexOf(item);
        if (idx >= 0)
            remove(idx);
    }

    void remove(int idx) override
    {
        if (idx < 0 || idx >= m_items.size())
            return;
        beginRemoveRows(QModelIndex(), idx, idx);
        T* item = m_items.takeAt(idx);
        // An item appended twice stays alive and connected while another row still shows it.
        if (!m_items.contains(item))
            dereferenceItem(item);
        endRemoveRows();
        updateCounter();
    }

    QObject* get(int idx) const override { return at(idx); }
    QObject* get(const QString& uid) const override { return m_indexByUid.value(uid, nullptr); }
    QObject* getFirst() const override { return m_items.isEmpty() ? nullptr : m_items.first(); }
    QObject* getLast() const override { return m_items.isEmpty() ? nullptr : m_items.last(); }

    QVariantList toVarArray() const override
    {
        QVariantList list;
        list.reserve(m_items.size());
        for (T* item : m_items)
            list.append(QVariant::fromValue(static_cast<QObject*>(item)));
        return list;
    }

protected:
    void onItemPropertyChanged() override
    {
        T* item = qobject_cast<T*>(sender());
        const int role = m_signalIndexToRole.value(senderSignalIndex(), -1);
        if (item && role >= 0) {
            QList<int> roles { role };
            if (!m_displayRoleName.isEmpty() && m_roles.value(role) == m_displayRoleName)
                roles.append(Qt::DisplayRole);
            for (int row = 0; row < m_items.size(); ++row) {
                if (m_items.at(row) != item)
                    continue;
                const QModelIndex index = QAbstractListModel::index(row, 0);
                emit dataChanged(index, index, roles);
            }
        }
        if (item && !m_uidRoleName.isEmpty() && role >= 0 && m_roles.value(role) == m_uidRoleName)
            registerUid(item);
    }

private:
    T* itemAt(const QModelIndex& index) const
    {
        if (!index.isValid() || index.model() != this)
            return nullptr;
        return at(index.row());
    }

    QByteArray roleName(int role) const { return role == Qt::DisplayRole ? m_displayRoleName : m_roles.value(role); }

    void insertAt(int row, T* item)
    {
        if (!item)
            return;
        beginInsertRows(QModelIndex(), row, row);
        m_items.insert(row, item);
        referenceItem(item);
        endInsertRows();
        updateCounter();
    }

    void referenceItem(T* item)
    {
        if (!item->parent())
            item->setParent(this);
        const QMetaObject* itemMeta = item->metaObject();
        for (auto it = m_signalIndexToRole.cbegin(); it != m_signalIndexToRole.cend(); ++it) {
            QObject::connect(item, itemMeta->method(it.key()), this, m_handler, Qt::UniqueConnection);
        }
        if (!m_uidRoleName.isEmpty())
            registerUid(item);
    }

    void dereferenceItem(T* item)
    {
        QObject::disconnect(this, nullptr, item, nullptr);
        QObject::disconnect(item, nullptr, this, nullptr);
        if (!m_uidRoleName.isEmpty())
            unregisterUid(item);
        if (item->parent() == this)
            item->deleteLater();
    }

    void unregisterUid(T* item)
    {
        const QString key = m_indexByUid.key(item);
        if (!key.isEmpty())
            m_indexByUid.remove(key);
    }

    void registerUid(T* item)
    {
        unregisterUid(item);
        const QString uid = item->property(m_uidRoleName.constData()).toString();
        if (!uid.isEmpty())
            m_indexByUid.insert(uid, item);
    }

    // The count is announced once per operation, after the rows are in place.
    void updateCounter()
    {
        if (m_count != m_items.size()) {
            m_count = int(m_items.size());
            emit countChanged();
        }
    }

    int m_count = 0;
    QByteArray m_uidRoleName;
    QByteArray m_displayRoleName;
    QMetaObject m_metaObj;
    QMetaMethod m_handler;
    QHash<int, QByteArray> m_roles;
    QHash<int, int> m_signalIndexToRole;
    QHash<QString, T*> m_indexByUid;
    QList<T*> m_items;
};
