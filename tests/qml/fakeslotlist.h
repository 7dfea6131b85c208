#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QMetaProperty>
#include <QObject>
#include <QPointer>

// Stands in for the slot list model in UI tests: rows are arbitrary QObjects (slots written in
// QML), one role per property of the first row plus "qtObject", the model's QML-visible
// interface (count, get, extra1, extra2).
class FakeSlotList : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(QObject* extra1 READ extra1 WRITE setExtra1 NOTIFY extra1Changed)
    Q_PROPERTY(QObject* extra2 READ extra2 WRITE setExtra2 NOTIFY extra2Changed)

public:
    using QAbstractListModel::QAbstractListModel;

    void setRows(const QList<QObject*>& rows);
    int count() const { return int(m_rows.size()); }
    QObject* extra1() const { return m_extra1; }
    QObject* extra2() const { return m_extra2; }
    void setExtra1(QObject* slot);
    void setExtra2(QObject* slot);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override { return m_roles; }

    Q_INVOKABLE QObject* get(int row) const;

Q_SIGNALS:
    void countChanged();
    void extra1Changed();
    void extra2Changed();

private Q_SLOTS:
    void rowChanged();

private:
    QList<QObject*> m_rows;
    QHash<int, QByteArray> m_roles;
    QHash<int, int> m_roleForSignal; // notify signal index -> role
    QObject* m_extra1 = nullptr;
    QObject* m_extra2 = nullptr;
};

// Stands in for the record-all controller.
class FakeRecordAll : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isRecordingAll READ isRecordingAll WRITE setIsRecordingAll NOTIFY isRecordingAllChanged)
    Q_PROPERTY(bool isRecordingAny READ isRecordingAny WRITE setIsRecordingAny NOTIFY isRecordingAnyChanged)

public:
    using QObject::QObject;
    bool isRecordingAll() const { return m_all; }
    bool isRecordingAny() const { return m_any; }
    void setIsRecordingAll(bool value);
    void setIsRecordingAny(bool value);
    int toggles = 0;
    int stops = 0;

public Q_SLOTS:
    void toggleRecordingAll() { ++toggles; }
    void stopEverything() { ++stops; }

Q_SIGNALS:
    void isRecordingAllChanged();
    void isRecordingAnyChanged();

private:
    bool m_all = false;
    bool m_any = false;
};
