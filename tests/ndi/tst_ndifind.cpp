// Discovery and the sources model against the simulated network. NDIFind is one instance for the
// whole process, so the test functions form one story, in order, over one sources file.
#include "ndi/ndifind.h"
#include "ndi/sourcesmodel.h"
#include "tests/common/simnetwork.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace NdiSim;

namespace
{

QJsonObject named(const QString& name, const QString& url = QString())
{
    return source(name, QJsonValue::Null, QJsonValue::Null, url);
}

QStringList linesStartingWith(const QStringList& lines, const QString& prefix)
{
    QStringList out;
    for (const QString& line : lines) {
        if (line.startsWith(prefix))
            out << line;
    }
    return out;
}

// Child process: discovery with a runtime that refuses to initialise.
int childMain()
{
    NDIFind* find = NDIFind::instance();
    QObject::connect(find, &NDIFind::sourceAdded, qApp, [](const QString&) { QCoreApplication::exit(0); });
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(1); });
    return QCoreApplication::exec();
}

} // namespace

class TestNdiFind : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        use();
        LogCapture::install();
        m_tester = new QAbstractItemModelTester(&m_model, QAbstractItemModelTester::FailureReportingMode::QtTest, this);
        // Wired as the start-up does: announcements cross to the main thread as queued calls.
        connect(
            NDIFind::instance(), &NDIFind::sourceAdded, &m_model, [this](QString name) { m_model.sourceAdded(name); });
    }

    void announcesNewSourcesInFinderOrder()
    {
        QSignalSpy added(NDIFind::instance(), &NDIFind::sourceAdded);
        QSignalSpy rows(&m_model, &QAbstractItemModel::rowsInserted);
        QSignalSpy appended(&m_model, &SourcesModel::sourceAddedSig);

        // Nothing on the network: the first pass announces nothing and logs nothing but the start.
        QTRY_COMPARE(LogCapture::peek(), QStringList { "NDI initialized" });

        // Two sources in one pass, not in alphabetical order.
        write({ named(QStringLiteral("ZULU (cam)"), QStringLiteral("10.1.1.1:5961")),
            named(QStringLiteral("ALPHA (cam)"), QStringLiteral("10.1.1.2:5961")) });
        QTRY_COMPARE(appended.size(), 2);
        QCOMPARE(added.size(), 2);
        QCOMPARE(added.at(0).at(0).toString(), QStringLiteral("ZULU (cam)"));
        QCOMPARE(added.at(1).at(0).toString(), QStringLiteral("ALPHA (cam)"));
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0).at(1).toInt(), 0);
        QCOMPARE(rows.at(0).at(2).toInt(), 0);
        QCOMPARE(rows.at(1).at(1).toInt(), 1);
        QCOMPARE(rows.at(1).at(2).toInt(), 1);
        QCOMPARE(m_model.rowCount(), 2);
        QCOMPARE(m_model.sourceAt(0), QStringLiteral("ZULU (cam)"));
        QCOMPARE(m_model.data(m_model.index(1), SourcesModel::NameRole).toString(), QStringLiteral("ALPHA (cam)"));
        QCOMPARE(LogCapture::take(),
            (QStringList { "NDI initialized", "Source added: ZULU (cam)", "Source added: ALPHA (cam)" }));
    }

    void aSourceThatLeavesAndComesBack()
    {
        QSignalSpy added(NDIFind::instance(), &NDIFind::sourceAdded);

        write({ named(QStringLiteral("ALPHA (cam)"), QStringLiteral("10.1.1.2:5961")) });
        QTRY_COMPARE(linesStartingWith(LogCapture::peek(), QStringLiteral("Source removed")),
            QStringList { "Source removed: ZULU (cam)" });
        // Every processed pass while it is away logs it again.
        write({ named(QStringLiteral("ALPHA (cam)"), QStringLiteral("10.1.1.3:5961")) });
        QTRY_COMPARE(NDIFind::instance()->urlAddress(QStringLiteral("ALPHA (cam)")), QStringLiteral("10.1.1.3:5961"));
        QCOMPARE(linesStartingWith(LogCapture::peek(), QStringLiteral("Source removed")),
            (QStringList { "Source removed: ZULU (cam)", "Source removed: ZULU (cam)" }));
        // Away, it keeps its last address.
        QCOMPARE(NDIFind::instance()->urlAddress(QStringLiteral("ZULU (cam)")), QStringLiteral("10.1.1.1:5961"));

        // Back, with a new address: not announced again, one row.
        write({ named(QStringLiteral("ALPHA (cam)"), QStringLiteral("10.1.1.3:5961")),
            named(QStringLiteral("ZULU (cam)"), QStringLiteral("10.1.1.9:5961")) });
        QTRY_COMPARE(NDIFind::instance()->urlAddress(QStringLiteral("ZULU (cam)")), QStringLiteral("10.1.1.9:5961"));
        // A newcomer afterwards is the next announcement: nothing came between.
        write({ named(QStringLiteral("ALPHA (cam)"), QStringLiteral("10.1.1.3:5961")),
            named(QStringLiteral("ZULU (cam)"), QStringLiteral("10.1.1.9:5961")), named(QStringLiteral("NEW (one)")) });
        QTRY_COMPARE(added.size(), 1);
        QCOMPARE(added.at(0).at(0).toString(), QStringLiteral("NEW (one)"));
        QTRY_COMPARE(m_model.rowCount(), 3);
        QCOMPARE(m_model.sourceAt(1), QStringLiteral("ALPHA (cam)"));
        QCOMPARE(m_model.sourceAt(2), QStringLiteral("NEW (one)"));
        QCOMPARE(linesStartingWith(LogCapture::take(), QStringLiteral("Source added")),
            QStringList { "Source added: NEW (one)" });
    }

    void urlAddress_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("url");
        QTest::addRow("never seen") << "NOBODY (here)"
                                    << "";
        QTest::addRow("present") << "ALPHA (cam)"
                                 << "10.1.1.3:5961";
        QTest::addRow("present without address") << "NEW (one)"
                                                 << "";
        QTest::addRow("empty name") << ""
                                    << "";
        QTest::addRow("case matters") << "alpha (cam)"
                                      << "";
    }

    void urlAddress()
    {
        QFETCH(QString, name);
        QFETCH(QString, url);
        QCOMPARE(NDIFind::instance()->urlAddress(name), url);
    }

    void currentSources()
    {
        write({ named(QStringLiteral("DUP"), QStringLiteral("first:1")),
            named(QStringLiteral("B"), QStringLiteral("b:2")), named(QStringLiteral("DUP"), QStringLiteral("second:2")),
            named(QStringLiteral("NOURL")) });
        QTRY_COMPARE(NDIFind::instance()->urlAddress(QStringLiteral("B")), QStringLiteral("b:2"));
        const std::map<QString, NDISourceDescription> sources = NDIFind::instance()->currentSources();
        QCOMPARE(sources.size(), size_t(3));
        QCOMPARE(sources.at(QStringLiteral("DUP")).urlAddress, QByteArray("second:2")); // the later one
        QVERIFY(!sources.at(QStringLiteral("NOURL")).hasUrlAddress);
        QVERIFY(!sources.at(QStringLiteral("NOURL")).source().p_url_address);

        // The descriptions are ours: still intact after the discovery thread has renewed its list.
        write({ named(QStringLiteral("B"), QStringLiteral("b:3")) });
        QTRY_COMPARE(NDIFind::instance()->urlAddress(QStringLiteral("B")), QStringLiteral("b:3"));
        const NDIlib_source_t b = sources.at(QStringLiteral("B")).source();
        QCOMPARE(QByteArray(b.p_ndi_name), QByteArray("B"));
        QCOMPARE(QByteArray(b.p_url_address), QByteArray("b:2"));
    }

    void modelData_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("role");
        QTest::addColumn<QVariant>("value");
        QTest::addRow("name role") << 0 << 0 << int(Qt::UserRole + 1) << QVariant(QStringLiteral("ZULU (cam)"));
        QTest::addRow("display role") << 0 << 0 << int(Qt::DisplayRole) << QVariant();
        QTest::addRow("next user role") << 0 << 0 << int(Qt::UserRole + 2) << QVariant();
        QTest::addRow("row past the end") << 100 << 0 << int(Qt::UserRole + 1) << QVariant();
        QTest::addRow("second column") << 0 << 1 << int(Qt::UserRole + 1) << QVariant();
    }

    void modelData()
    {
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(int, role);
        QFETCH(QVariant, value);
        QCOMPARE(m_model.data(m_model.index(row, column), role), value);
        QCOMPARE(m_model.roleNames(), (QHash<int, QByteArray> { { Qt::UserRole + 1, "name" } }));
    }

    void propertiesNotifyOnChangeOnly()
    {
        QSignalSpy selected(&m_model, &SourcesModel::selectedChanged);
        QSignalSpy entered(&m_model, &SourcesModel::enteredChanged);
        QSignalSpy index(&m_model, &SourcesModel::selectedIndChanged);
        QCOMPARE(m_model.selectedInd(), -1);
        for (int i = 0; i < 2; ++i) {
            m_model.setSelected(QStringLiteral("ALPHA (cam)"));
            m_model.setEntered(QStringLiteral("typed"));
            m_model.setSelectedInd(1);
        }
        m_model.setSelectedInd(-1);
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.at(0).at(0).toString(), QStringLiteral("ALPHA (cam)"));
        QCOMPARE(entered.size(), 1);
        QCOMPARE(entered.at(0).at(0).toString(), QStringLiteral("typed"));
        QCOMPARE(index.size(), 2);
        QCOMPARE(index.at(0).at(0).toInt(), 1);
        QCOMPARE(index.at(1).at(0).toInt(), -1);
    }

    void discoveryRunsWhenTheRuntimeFailsToStart()
    {
        write({ named(QStringLiteral("STILL (found)")) });
        QProcess child;
        QProcessEnvironment env = TestEnv::childEnvironment(QStringLiteral("initfail"));
        env.insert(QStringLiteral("NDI_SIM_SOURCES"), path());
        env.insert(QStringLiteral("NDI_SIM_INIT_FAIL"), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--child") });
        QVERIFY(child.waitForFinished(10000));
        const QString output = QString::fromLocal8Bit(child.readAllStandardError());
        QCOMPARE(child.exitCode(), 0);
        QVERIFY2(output.contains(QStringLiteral("Unable to initialize NDI")), qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("Source added: STILL (found)")), qPrintable(output));
        QVERIFY(!output.contains(QStringLiteral("NDI initialized")));
    }

private:
    SourcesModel m_model;
    QAbstractItemModelTester* m_tester = nullptr;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--child")
        return childMain();
    TestNdiFind test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ndifind.moc"
