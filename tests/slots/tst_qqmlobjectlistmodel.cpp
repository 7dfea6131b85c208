#include "slots/qqmlobjectlistmodel.h"

#include <QAbstractItemModelTester>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <functional>

class Item : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name MEMBER m_name NOTIFY nameChanged)
    Q_PROPERTY(int value MEMBER m_value NOTIFY valueChanged)
    Q_PROPERTY(int id READ id CONSTANT)
    Q_PROPERTY(QString uid MEMBER m_uid NOTIFY uidChanged)
public:
    explicit Item(const QString& name = {}, QObject* parent = nullptr) : QObject(parent), m_name(name) { }
    int id() const { return 7; }
    QString m_name, m_uid;
    int m_value = 0;
Q_SIGNALS:
    void nameChanged();
    void valueChanged();
    void uidChanged();
};

using Model = QQmlObjectListModel<Item>;
enum Role { Object = 256, ObjectName, Name, Value, Uid = 261 }; // "id" is reserved and left out

// A model of three items item0..item2, checked by the model tester throughout.
struct Fixture {
    explicit Fixture(const QByteArray& display = {}, const QByteArray& uid = {})
    {
        QTest::ignoreMessage(QtWarningMsg, "Can't have id as a role name in QQmlObjectListModel<Item>");
        model = std::make_unique<Model>(nullptr, display, uid);
        for (int i = 0; i < 3; ++i)
            model->append(new Item(QStringLiteral("item%1").arg(i)));
        tester = std::make_unique<QAbstractItemModelTester>(model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    }
    QStringList names() const
    {
        QStringList list;
        for (Item* item : *model)
            list << item->m_name;
        return list;
    }
    std::unique_ptr<Model> model;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

using Operation = std::function<void(Model&, Item* fresh)>;
Q_DECLARE_METATYPE(Operation)

class TestObjectListModel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void roles()
    {
        Fixture f("name");
        const QHash<int, QByteArray> expected { { Qt::DisplayRole, "display" }, { Object, "qtObject" }, { ObjectName, "objectName" },
            { Name, "name" }, { Value, "value" }, { Uid, "uid" } };
        QCOMPARE(f.model->roleNames(), expected);
        QCOMPARE(f.model->data(f.model->index(1), Object).value<QObject*>(), f.model->at(1));
        QCOMPARE(f.model->data(f.model->index(1), Name).toString(), QStringLiteral("item1"));
        QCOMPARE(f.model->data(f.model->index(1), Qt::DisplayRole).toString(), QStringLiteral("item1"));
        QCOMPARE(f.model->data(f.model->index(1), Uid + 1), QVariant());
        QVERIFY(f.model->setData(f.model->index(2), 9, Value));
        QCOMPARE(f.model->at(2)->m_value, 9);
    }

    void dataChangedForOneRole_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QList<int>>("roles");
        QTest::addRow("value") << QByteArray("value") << QVariant(42) << QList<int> { Value };
        QTest::addRow("objectName") << QByteArray("objectName") << QVariant("o") << QList<int> { ObjectName };
        QTest::addRow("the display role's property") << QByteArray("name") << QVariant("x") << QList<int> { Name, Qt::DisplayRole };
    }
    void dataChangedForOneRole()
    {
        QFETCH(QByteArray, property);
        QFETCH(QVariant, value);
        QFETCH(QList<int>, roles);
        Fixture f("name");
        QSignalSpy spy(f.model.get(), &QAbstractItemModel::dataChanged);
        f.model->at(1)->setProperty(property, value);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy[0][0].toModelIndex(), f.model->index(1));
        QCOMPARE(spy[0][2].value<QList<int>>(), roles);
    }

    void structureChanges_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QStringList>("names");
        QTest::addRow("append") << Operation([](Model& m, Item* n) { m.append(n); }) << QStringList { "item0", "item1", "item2", "new" };
        QTest::addRow("prepend") << Operation([](Model& m, Item* n) { m.prepend(n); }) << QStringList { "new", "item0", "item1", "item2" };
        QTest::addRow("insert") << Operation([](Model& m, Item* n) { m.insert(1, n); }) << QStringList { "item0", "new", "item1", "item2" };
        QTest::addRow("insert past the end") << Operation([](Model& m, Item* n) { m.insert(4, n); }) << QStringList { "item0", "item1", "item2" };
        QTest::addRow("foreign class") << Operation([](Model& m, Item*) { QObject o; m.append(&o); }) << QStringList { "item0", "item1", "item2" };
        QTest::addRow("remove") << Operation([](Model& m, Item*) { m.remove(1); }) << QStringList { "item0", "item2" };
        QTest::addRow("remove item") << Operation([](Model& m, Item*) { m.remove(static_cast<QObject*>(m.at(2))); }) << QStringList { "item0", "item1" };
        QTest::addRow("remove past the end") << Operation([](Model& m, Item*) { m.remove(3); }) << QStringList { "item0", "item1", "item2" };
        QTest::addRow("move down") << Operation([](Model& m, Item*) { m.move(0, 2); }) << QStringList { "item2", "item0", "item1" };
        QTest::addRow("move up") << Operation([](Model& m, Item*) { m.move(2, 0); }) << QStringList { "item2", "item0", "item1" };
        QTest::addRow("move out of range") << Operation([](Model& m, Item*) { m.move(1, 3); }) << QStringList { "item0", "item1", "item2" };
        QTest::addRow("clear") << Operation([](Model& m, Item*) { m.clear(); }) << QStringList();
    }
    void structureChanges()
    {
        QFETCH(Operation, operation);
        QFETCH(QStringList, names);
        Fixture f;
        QSignalSpy count(f.model.get(), &QQmlObjectListModelBase::countChanged);
        auto* fresh = new Item(QStringLiteral("new"));
        operation(*f.model, fresh);
        QCOMPARE(f.names(), names);
        QCOMPARE(f.model->count(), names.size());
        QCOMPARE(count.size(), names.size() == 3 ? 0 : 1);
        QCOMPARE(fresh->parent(), names.contains("new") ? f.model.get() : nullptr);
        if (!fresh->parent())
            delete fresh;
    }

    // Items without a parent are adopted and deleted (deferred) when they leave; others stay; an
    // item shown twice stays alive and connected while a row still shows it.
    void ownership()
    {
        QObject owner;
        Fixture f;
        QPointer<Item> own(f.model->at(0)), foreign(new Item({}, &owner)), twice(new Item);
        f.model->append(foreign);
        f.model->append(twice);
        f.model->append(twice);
        f.model->remove(static_cast<QObject*>(own));
        f.model->remove(static_cast<QObject*>(foreign));
        f.model->remove(3);
        QSignalSpy spy(f.model.get(), &QAbstractItemModel::dataChanged);
        twice->setProperty("value", 1);
        QCOMPARE(spy.size(), 1);
        QVERIFY(own);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!own && foreign && twice);
        f.model->clear();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(foreign && !twice);
    }

    void uidIndex()
    {
        Fixture f({}, "uid");
        Item* item = f.model->at(1);
        item->setProperty("uid", "a");
        QCOMPARE(f.model->get(QStringLiteral("a")), item);
        item->setProperty("uid", "b");
        QCOMPARE(f.model->get(QStringLiteral("a")), nullptr);
        QCOMPARE(f.model->get(QStringLiteral("b")), item);
        f.model->remove(1);
        QCOMPARE(f.model->get(QStringLiteral("b")), nullptr);
    }
};

QTEST_GUILESS_MAIN(TestObjectListModel)
#include "tst_qqmlobjectlistmodel.moc"
