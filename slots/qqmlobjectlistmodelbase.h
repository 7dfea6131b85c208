#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVariantList>

// The QML-visible face of every QQmlObjectListModel<T>: QML sees one interface ("count" and the
// invokable list operations) whatever the item class. The template implements all of it.
class QQmlObjectListModelBase : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    explicit QQmlObjectListModelBase(QObject* parent = nullptr)
        : QAbstractListModel(parent)
    {
    }

public Q_SLOTS:
    virtual int size() const = 0;
    virtual int count() const = 0;
    virtual bool isEmpty() const = 0;
    virtual bool contains(QObject* item) const = 0;
    virtual int indexOf(QObject* item) const = 0;
    virtual int roleForName(const QByteArray& name) const = 0;
    virtual void clear() = 0;
    virtual void append(QObject* item) = 0;
    virtual void prepend(QObject* item) = 0;
    virtual void insert(int idx, QObject* item) = 0;
    virtual void move(int idx, int pos) = 0;
    virtual void remove(QObject* item) = 0;
    virtual void remove(int idx) = 0;
    virtual QObject* get(int idx) const = 0;
    virtual QObject* get(const QString& uid) const = 0;
    virtual QObject* getFirst() const = 0;
    virtual QObject* getLast() const = 0;
    virtual QVariantList toVarArray() const = 0;

Q_SIGNALS:
    void countChanged();

protected:
    // Names QML keeps for itself; a property with one of these names gets no role.
    static const QSet<QByteArray>& reservedRoleNames();

protected Q_SLOTS:
    // Reached through the items' notify signals; sender() and senderSignalIndex() say what changed.
    virtual void onItemPropertyChanged() = 0;
};
