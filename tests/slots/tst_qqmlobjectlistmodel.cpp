#include "slots/qqmlobjectlistmodel.h"
#include "tests/common/testenv.h"

#include <QAbstractItemModelTester>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

class TestItem : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(int value READ value WRITE setValue NOTIFY valueChanged)
    Q_PROPERTY(int id READ id CONSTANT)
    Q_PROPERTY(QString uid READ uid WRITE setUid NOTIFY uidChanged)
    Q_PROPERTY(int kind READ kind CONSTANT)

public:
    explicit TestItem(const QString& name = QString(), QObject* parent = nullptr)
        : QObject(parent)
        , m_name(name)
    {
    }
    QString name() const { return m_name; }
    int value() const { return m_value; }
    int id() const { return 7; }
    QString uid() const { return m_uid; }
    int kind() const { return 3; }

    void setName(const QString& name)
    {
        if (name != m_name) {
            m_name = name;
            emit nameChanged(m_name);
        }
    }
    void setValue(int value)
    {
        if (value != m_value) {
            m_value = value;
            emit valueChanged(m_value);
        }
    }
    void setUid(const QString& uid)
    {
        if (uid != m_uid) {
            m_uid = uid;
            emit uidChanged(m_uid);
        }
    }

Q_SIGNALS:
    void nameChanged(QString name);
    void valueChanged(int value);
    void uidChanged(QString uid);

private:
    QString m_name;
    int m_value = 0;
    QString m_uid;
};

namespace
{

constexpr int NameRole = 258;
constexpr int ValueRole = 259;
constexpr int UidRole = 261;
const char* const ReservedWarning = "Can't have id as a role name in QQmlObjectListModel<TestItem>";

using Model = QQmlObjectListModel<TestItem>;

struct Fixture {
    explicit Fixture(int rows, const QByteArray& displayRole = QByteArray(), const QByteArray& uidRole = QByteArray())
    {
        QTest::ignoreMessage(QtWarningMsg, ReservedWarning);
        model = std::make_unique<Model>(nullptr, displayRole, uidRole);
        tester = std::make_unique<QAbstractItemModelTester>(
            model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (int i = 0; i < rows; ++i)
            model->append(new TestItem(QStringLiteral("item%1").arg(i)));
    }
    TestItem* item(int row) const { return model->at(row); }
    QStringList names() const
    {
        QStringList list;
        for (TestItem* item : *model)
            list << item->name();
        return list;
    }
    std::unique_ptr<Model> model;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

// One recorded model notification, in a form that compares whole sequences at once.
void recordedStructure(QAbstractItemModel* model, QObject* context, QStringList* log)
{
    QObject::connect(model, &QAbstractItemModel::rowsInserted, context, [log](const QModelIndex&, int first, int last) {
        *log << QStringLiteral("inserted %1-%2").arg(first).arg(last);
    });
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, context, [log](const QModelIndex&, int first, int last) {
        *log << QStringLiteral("removed %1-%2").arg(first).arg(last);
    });
    QObject::connect(model, &QAbstractItemModel::rowsMoved, context,
        [log](const QModelIndex&, int first, int last, const QModelIndex&, int dest) {
            *log << QStringLiteral("moved %1-%2 to %3").arg(first).arg(last).arg(dest);
        });
    QObject::connect(model, &QAbstractItemModel::modelReset, context, [log] { *log << QStringLiteral("reset"); });
    auto* base = qobject_cast<QQmlObjectListModelBase*>(model);
    QObject::connect(base, &QQmlObjectListModelBase::countChanged, context,
        [log, base] { *log << QStringLiteral("count %1").arg(base->count()); });
}

} // namespace

class TestObjectListModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roleTable_data()
    {
        QTest::addColumn<QByteArray>("displayRole");
        QTest::addColumn<bool>("hasDisplay");
        QTest::addRow("no display role") << QByteArray() << false;
        QTest::addRow("display role name") << QByteArray("name") << true;
    }
    void roleTable()
    {
        QFETCH(QByteArray, displayRole);
        QFETCH(bool, hasDisplay);
        QTest::ignoreMessage(QtWarningMsg, ReservedWarning);
        Model model(nullptr, displayRole);
        QHash<int, QByteArray> expected { { 256, "qtObject" }, { 257, "objectName" }, { NameRole, "name" },
            { ValueRole, "value" }, { UidRole, "uid" }, { 262, "kind" } };
        if (hasDisplay)
            expected.insert(0, "display");
        QCOMPARE(model.roleNames(), expected);
        QCOMPARE(model.roleForName("kind"), 262);
        QCOMPARE(model.roleForName("id"), -1);
        QCOMPARE(model.roleForName("nothing"), -1);

        auto* item = new TestItem(QStringLiteral("alpha"));
        model.append(item);
        const QModelIndex index = model.index(0);
        QCOMPARE(model.data(index, 256).value<QObject*>(), item);
        QCOMPARE(model.data(index, NameRole).toString(), QStringLiteral("alpha"));
        QCOMPARE(model.data(index, 262).toInt(), 3);
        QCOMPARE(model.data(index, 260), QVariant());
        QCOMPARE(model.data(index, Qt::DisplayRole), hasDisplay ? QVariant(QStringLiteral("alpha")) : QVariant());
        QCOMPARE(model.data(model.index(1), NameRole), QVariant());
    }

    void dataChangedForOneRole_data()
    {
        QTest::addColumn<QByteArray>("displayRole");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QList<int>>("roles");
        QTest::addRow("value") << QByteArray() << QByteArray("value") << QVariant(42) << QList<int> { ValueRole };
        QTest::addRow("name") << QByteArray() << QByteArray("name") << QVariant(QStringLiteral("x"))
                              << QList<int> { NameRole };
        QTest::addRow("objectName") << QByteArray() << QByteArray("objectName") << QVariant(QStringLiteral("o"))
                                    << QList<int> { 257 };
        QTest::addRow("display name") << QByteArray("name") << QByteArray("name") << QVariant(QStringLiteral("x"))
                                      << QList<int> { NameRole, Qt::DisplayRole };
        QTest::addRow("not the display") << QByteArray("name") << QByteArray("value") << QVariant(5)
                                         << QList<int> { ValueRole };
    }
    void dataChangedForOneRole()
    {
        QFETCH(QByteArray, displayRole);
        QFETCH(QByteArray, property);
        QFETCH(QVariant, value);
        QFETCH(QList<int>, roles);
        Fixture f(5, displayRole);
        QSignalSpy spy(f.model.get(), &QAbstractItemModel::dataChanged);
        QVERIFY(f.item(3)->setProperty(property.constData(), value));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toModelIndex(), f.model->index(3));
        QCOMPARE(spy.at(0).at(1).toModelIndex(), f.model->index(3));
        QCOMPARE(spy.at(0).at(2).value<QList<int>>(), roles);
    }

    void setDataGoesThroughTheItem()
    {
        Fixture f(2);
        QSignalSpy spy(f.model.get(), &QAbstractItemModel::dataChanged);
        QVERIFY(f.model->setData(f.model->index(1), 9, ValueRole));
        QCOMPARE(f.item(1)->value(), 9);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toModelIndex().row(), 1);
        QVERIFY(!f.model->setData(f.model->index(1), QVariant::fromValue<QObject*>(nullptr), 256));
        QVERIFY(!f.model->setData(f.model->index(1), 1, 260));
        QVERIFY(!f.model->setData(f.model->index(1), 1, 262)); // constant: no setter
        QVERIFY(!f.model->setData(f.model->index(5), 1, ValueRole));
        QCOMPARE(spy.count(), 1);
    }

    void appendTwiceConnectsOnce()
    {
        Fixture f(0);
        auto* item = new TestItem(QStringLiteral("twice"));
        QPointer<TestItem> guard(item);
        f.model->append(item);
        f.model->append(item);
        QCOMPARE(f.model->rowCount(), 2);
        QSignalSpy spy(f.model.get(), &QAbstractItemModel::dataChanged);
        item->setValue(1);
        // One connection, one notification per row that shows the item.
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toModelIndex().row(), 0);
        QCOMPARE(spy.at(1).at(0).toModelIndex().row(), 1);

        // Removing one of its rows must neither delete nor disconnect it.
        f.model->remove(0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(guard);
        spy.clear();
        item->setValue(2);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toModelIndex().row(), 0);
        f.model->remove(0);
        QTRY_VERIFY(guard.isNull());
    }

    void move_data()
    {
        QTest::addColumn<int>("idx");
        QTest::addColumn<int>("pos");
        QTest::addColumn<QStringList>("order");
        QTest::addColumn<QStringList>("log");
        const QStringList untouched { "item0", "item1", "item2", "item3", "item4", "item5" };
        QTest::addRow("2 5") << 2 << 5 << QStringList { "item0", "item1", "item5", "item2", "item3", "item4" }
                             << QStringList { "moved 5-5 to 2" };
        QTest::addRow("5 2") << 5 << 2 << QStringList { "item0", "item1", "item5", "item2", "item3", "item4" }
                             << QStringList { "moved 5-5 to 2" };
        QTest::addRow("neighbours swap") << 0 << 1
                                         << QStringList { "item1", "item0", "item2", "item3", "item4", "item5" }
                                         << QStringList { "moved 1-1 to 0" };
        QTest::addRow("3 3") << 3 << 3 << untouched << QStringList();
        QTest::addRow("past the end") << 2 << 6 << untouched << QStringList();
        QTest::addRow("negative") << -1 << 2 << untouched << QStringList();
    }
    void move()
    {
        QFETCH(int, idx);
        QFETCH(int, pos);
        QFETCH(QStringList, order);
        QFETCH(QStringList, log);
        Fixture f(6);
        QStringList seen;
        QObject context;
        recordedStructure(f.model.get(), &context, &seen);
        f.model->move(idx, pos);
        QCOMPARE(f.names(), order);
        QCOMPARE(seen, log);
        QCOMPARE(f.model->data(f.model->index(2), NameRole).toString(), order.at(2));
    }

    void structureChanges_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QStringList>("order");
        QTest::addColumn<QStringList>("log");
        QTest::addRow("append") << "append" << QStringList { "item0", "item1", "item2", "new" }
                                << QStringList { "inserted 3-3", "count 4" };
        QTest::addRow("prepend") << "prepend" << QStringList { "new", "item0", "item1", "item2" }
                                 << QStringList { "inserted 0-0", "count 4" };
        QTest::addRow("insert 1") << "insert 1" << QStringList { "item0", "new", "item1", "item2" }
                                  << QStringList { "inserted 1-1", "count 4" };
        QTest::addRow("insert at end") << "insert 3" << QStringList { "item0", "item1", "item2", "new" }
                                       << QStringList { "inserted 3-3", "count 4" };
        QTest::addRow("insert past end") << "insert 4" << QStringList { "item0", "item1", "item2" } << QStringList();
        QTest::addRow("insert negative") << "insert -1" << QStringList { "item0", "item1", "item2" } << QStringList();
        QTest::addRow("append foreign class")
            << "append object" << QStringList { "item0", "item1", "item2" } << QStringList();
        QTest::addRow("remove 1") << "remove 1" << QStringList { "item0", "item2" }
                                  << QStringList { "removed 1-1", "count 2" };
        QTest::addRow("remove 3") << "remove 3" << QStringList { "item0", "item1", "item2" } << QStringList();
        QTest::addRow("remove item") << "remove item2" << QStringList { "item0", "item1" }
                                     << QStringList { "removed 2-2", "count 2" };
        QTest::addRow("remove unknown") << "remove stranger" << QStringList { "item0", "item1", "item2" }
                                        << QStringList();
        QTest::addRow("clear") << "clear" << QStringList() << QStringList { "removed 0-2", "count 0" };
    }
    void structureChanges()
    {
        QFETCH(QString, operation);
        QFETCH(QStringList, order);
        QFETCH(QStringList, log);
        Fixture f(3);
        QStringList seen;
        QObject context;
        recordedStructure(f.model.get(), &context, &seen);
        auto* fresh = new TestItem(QStringLiteral("new"));
        QPointer<TestItem> freshGuard(fresh);
        TestItem stranger(QStringLiteral("stranger"));
        QObject plain;
        const QStringList words = operation.split(QLatin1Char(' '));
        if (operation == QLatin1String("append"))
            f.model->append(fresh);
        else if (operation == QLatin1String("prepend"))
            f.model->prepend(fresh);
        else if (words.first() == QLatin1String("insert"))
            f.model->insert(words.at(1).toInt(), fresh);
        else if (operation == QLatin1String("append object"))
            f.model->append(&plain);
        else if (operation == QLatin1String("remove item2"))
            f.model->remove(static_cast<QObject*>(f.item(2)));
        else if (operation == QLatin1String("remove stranger"))
            f.model->remove(static_cast<QObject*>(&stranger));
        else if (words.first() == QLatin1String("remove"))
            f.model->remove(words.at(1).toInt());
        else if (operation == QLatin1String("clear"))
            f.model->clear();
        QCOMPARE(f.names(), order);
        QCOMPARE(seen, log);
        QCOMPARE(f.model->count(), order.size());
        QCOMPARE(f.model->size(), order.size());
        QCOMPARE(f.model->isEmpty(), order.isEmpty());
        if (!order.contains(QStringLiteral("new"))) {
            QVERIFY(!fresh->parent());
            delete fresh;
        } else {
            QCOMPARE(fresh->parent(), f.model.get());
        }
    }

    void countLagsUntilTheOperationEnds()
    {
        Fixture f(1);
        QList<int> countsAtInsert;
        connect(f.model.get(), &QAbstractItemModel::rowsInserted, this, [&] { countsAtInsert << f.model->count(); });
        f.model->append(new TestItem);
        QCOMPARE(countsAtInsert, QList<int> { 1 });
        QCOMPARE(f.model->count(), 2);
        QCOMPARE(f.model->rowCount(), 2);
        QCOMPARE(f.model->rowCount(f.model->index(0)), 0);
    }

    void clearOnEmptyEmitsNothing()
    {
        Fixture f(0);
        QStringList seen;
        QObject context;
        recordedStructure(f.model.get(), &context, &seen);
        QSignalSpy aboutToRemove(f.model.get(), &QAbstractItemModel::rowsAboutToBeRemoved);
        f.model->clear();
        QCOMPARE(seen, QStringList());
        QCOMPARE(aboutToRemove.count(), 0);
    }

    void ownership_data()
    {
        QTest::addColumn<bool>("foreignParent");
        QTest::addColumn<bool>("useClear");
        QTest::addRow("own item removed") << false << false;
        QTest::addRow("own item cleared") << false << true;
        QTest::addRow("foreign item removed") << true << false;
        QTest::addRow("foreign item cleared") << true << true;
    }
    void ownership()
    {
        QFETCH(bool, foreignParent);
        QFETCH(bool, useClear);
        QObject owner;
        Fixture f(0);
        auto* item = new TestItem(QStringLiteral("i"), foreignParent ? &owner : nullptr);
        QPointer<TestItem> guard(item);
        f.model->append(item);
        QCOMPARE(item->parent(), foreignParent ? &owner : static_cast<QObject*>(f.model.get()));
        if (useClear)
            f.model->clear();
        else
            f.model->remove(0);
        // Deletion is deferred: the item must still exist right after the call.
        QVERIFY(guard);
        QSignalSpy spy(f.model.get(), &QAbstractItemModel::dataChanged);
        item->setValue(5);
        QCOMPARE(spy.count(), 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(guard.isNull(), !foreignParent);
    }

    void modelDestructionDeletesOwnedItems()
    {
        QObject owner;
        auto f = std::make_unique<Fixture>(2);
        auto* foreign = new TestItem(QStringLiteral("f"), &owner);
        f->model->append(foreign);
        QPointer<TestItem> own(f->item(0));
        QPointer<TestItem> foreignGuard(foreign);
        f.reset();
        QVERIFY(own.isNull());
        QVERIFY(foreignGuard);
    }

    void uidIndex()
    {
        Fixture f(2, QByteArray(), "uid");
        auto* item = new TestItem(QStringLiteral("u"));
        item->setUid(QStringLiteral("a"));
        f.model->append(item);
        QCOMPARE(f.model->get(QStringLiteral("a")), item);
        QCOMPARE(f.model->get(QString()), nullptr);

        QSignalSpy spy(f.model.get(), &QAbstractItemModel::dataChanged);
        item->setUid(QStringLiteral("b"));
        QCOMPARE(f.model->get(QStringLiteral("a")), nullptr);
        QCOMPARE(f.model->get(QStringLiteral("b")), item);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(2).value<QList<int>>(), QList<int> { UidRole });

        item->setUid(QString());
        QCOMPARE(f.model->get(QStringLiteral("b")), nullptr);
        item->setUid(QStringLiteral("c"));
        f.model->remove(static_cast<QObject*>(item));
        QCOMPARE(f.model->get(QStringLiteral("c")), nullptr);
    }

    void uidIndexNeedsAUidRole()
    {
        Fixture f(0);
        auto* item = new TestItem;
        item->setUid(QStringLiteral("a"));
        f.model->append(item);
        QCOMPARE(f.model->get(QStringLiteral("a")), nullptr);
    }

    void queries()
    {
        Fixture f(0);
        QCOMPARE(f.model->getFirst(), nullptr);
        QCOMPARE(f.model->getLast(), nullptr);
        QCOMPARE(f.model->get(0), nullptr);
        for (int i = 0; i < 3; ++i)
            f.model->append(new TestItem(QStringLiteral("item%1").arg(i)));
        QCOMPARE(f.model->getFirst(), f.item(0));
        QCOMPARE(f.model->getLast(), f.item(2));
        QCOMPARE(f.model->get(1), f.item(1));
        QCOMPARE(f.model->get(3), nullptr);
        QCOMPARE(f.model->get(-1), nullptr);
        QCOMPARE(f.model->indexOf(f.item(2)), 2);
        QObject plain;
        TestItem stranger;
        QCOMPARE(f.model->indexOf(&plain), -1);
        QCOMPARE(f.model->indexOf(&stranger), -1);
        QVERIFY(f.model->contains(f.item(1)));
        QVERIFY(!f.model->contains(&stranger));
        const QVariantList array = f.model->toVarArray();
        QCOMPARE(array.size(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(array.at(i).value<QObject*>(), f.item(i));
    }

    void qmlSeesTheBaseInterface()
    {
        Fixture f(2);
        QCOMPARE(QByteArray(f.model->metaObject()->className()), QByteArray("QQmlObjectListModelBase"));
        QCOMPARE(f.model->property("count").toInt(), 2);
        QObject* result = nullptr;
        QVERIFY(QMetaObject::invokeMethod(f.model.get(), "get", Q_RETURN_ARG(QObject*, result), Q_ARG(int, 1)));
        QCOMPARE(result, f.item(1));
        QVERIFY(QMetaObject::invokeMethod(f.model.get(), "clear"));
        QCOMPARE(f.model->property("count").toInt(), 0);
    }
};

QTEST_GUILESS_MAIN(TestObjectListModel)
#include "tst_qqmlobjectlistmodel.moc"
