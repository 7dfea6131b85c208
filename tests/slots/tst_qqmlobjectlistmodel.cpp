#include "slots/qqmlobjectlistmodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

class Item : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name MEMBER name NOTIFY nameChanged)
    Q_PROPERTY(int value MEMBER value NOTIFY valueChanged)
    Q_PROPERTY(int id READ id CONSTANT)
public:
    explicit Item(const QString& name = {}, QObject* parent = nullptr)
        : QObject(parent)
        , name(name)
    {
    }
    int id() const { return 7; }
    QString name;
    int value = 0;
Q_SIGNALS:
    void nameChanged();
    void valueChanged();
};

using Model = QQmlObjectListModel<Item>;
enum Role { Object = 256, ObjectName, Name, Value, Id }; // "id" is reserved and left out

// Items item0..item2 in a model of the given display role, under the model tester.
struct Fixture {
    explicit Fixture(const QByteArray& display = {})
        : model((QTest::ignoreMessage(QtWarningMsg, "Can't have id as a role name in QQmlObjectListModel<Item>"),
            new Model(nullptr, display)))
    {
        for (int i = 0; i < 3; ++i)
            model->append(new Item(QStringLiteral("item%1").arg(i)));
    }
    std::unique_ptr<Model> model;
    QAbstractItemModelTester tester { model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest };
};

class TestObjectListModel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Every property a role, the display role showing the one named; a notify signal changes its role only.
    void roles()
    {
        Fixture f("name");
        QCOMPARE(f.model->roleNames(),
            (QHash<int, QByteArray> { { Qt::DisplayRole, "display" }, { Object, "qtObject" },
                { ObjectName, "objectName" }, { Name, "name" }, { Value, "value" } }));
        const QModelIndex row = f.model->index(1);
        QCOMPARE(QVariantList({ row.data(Object), row.data(Name), row.data(Qt::DisplayRole), row.data(Id) }),
            QVariantList({ QVariant::fromValue<QObject*>(f.model->at(1)), "item1", "item1", QVariant() }));
        QVERIFY(f.model->setData(row, 9, Value) && f.model->at(1)->value == 9);
        for (const auto& [property, roles] : { std::pair { "value", QList<int> { Value } },
                 { "objectName", { ObjectName } }, { "name", { Name, Qt::DisplayRole } } }) {
            QSignalSpy spy(f.model.get(), &QAbstractItemModel::dataChanged);
            f.model->at(1)->setProperty(property, "42");
            QCOMPARE(spy.size(), 1);
            QVERIFY(spy[0][0].toModelIndex() == row && spy[0][1].toModelIndex() == row);
            QCOMPARE(spy[0][2].value<QList<int>>(), roles);
        }
    }

    // The app only appends: the model takes the item, counts it once, and refuses what is no item.
    void append()
    {
        Fixture f;
        QSignalSpy count(f.model.get(), &QQmlObjectListModelBase::countChanged);
        auto* fresh = new Item(QStringLiteral("new"));
        f.model->append(fresh);
        f.model->append(new QObject(f.model.get()));
        QVERIFY(f.model->count() == 4 && f.model->at(3) == fresh && count.size() == 1);
        QVERIFY(fresh->parent() == f.model.get() && f.model->index(3).data(Name) == "new");
    }
};

QTEST_GUILESS_MAIN(TestObjectListModel)
#include "tst_qqmlobjectlistmodel.moc"
