// Discovery and the sources model against the simulated network: NDIFind is one instance for the
// whole process, so the functions form one story, in order.
#include "ndi/ndifind.h"
#include "ndi/sourcesmodel.h"
#include "tests/common/simnetwork.h"

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

using namespace NdiSim;

class TestNdiFind : public QObject
{
    Q_OBJECT

    SourcesModel m_model;

    static QJsonObject named(const QString& name, const QString& url = {})
    {
        return source(name, QJsonValue::Null, QJsonValue::Null, url);
    }

private Q_SLOTS:
    void initTestCase()
    {
        use();
        LogCapture::install();
        new QAbstractItemModelTester(&m_model, QAbstractItemModelTester::FailureReportingMode::QtTest, this);
        // As the start-up wires it: announcements cross to the main thread as queued calls.
        connect(
            NDIFind::instance(), &NDIFind::sourceAdded, &m_model, [this](QString name) { m_model.sourceAdded(name); });
    }

    void announcesNewSourcesInFinderOrder()
    {
        QTRY_COMPARE(LogCapture::peek(), QStringList { "NDI initialized" });
        write({ named("ZULU (cam)", "10.1.1.1:5961"), named("ALPHA (cam)", "10.1.1.2:5961") });
        QTRY_COMPARE(m_model.rowCount(), 2);
        QCOMPARE(m_model.sourceAt(0), QStringLiteral("ZULU (cam)"));
        QCOMPARE(m_model.data(m_model.index(1), SourcesModel::NameRole).toString(), QStringLiteral("ALPHA (cam)"));
        QCOMPARE(LogCapture::take(),
            (QStringList { "NDI initialized", "Source added: ZULU (cam)", "Source added: ALPHA (cam)" }));
    }

    // Away, a source keeps its last address and its row; back, it is not announced again.
    void aSourceThatLeavesAndComesBack()
    {
        write({ named("ALPHA (cam)", "10.1.1.3:5961") });
        // The main thread asking for the list meanwhile, as binding a slot does, hides no change.
        QElapsedTimer asking;
        for (asking.start(); NDIFind::instance()->currentSources().count("ZULU (cam)") && asking.elapsed() < 5000;)
            QThread::msleep(1);
        QTRY_COMPARE(NDIFind::instance()->urlAddress("ALPHA (cam)"), QStringLiteral("10.1.1.3:5961"));
        QVERIFY(LogCapture::contains("Source removed: ZULU (cam)"));
        QCOMPARE(NDIFind::instance()->urlAddress("ZULU (cam)"), QStringLiteral("10.1.1.1:5961"));
        write({ named("ALPHA (cam)", "10.1.1.3:5961"), named("ZULU (cam)", "10.1.1.9:5961"), named("NEW (one)") });
        QTRY_COMPARE(m_model.rowCount(), 3);
        QCOMPARE(LogCapture::take().filter("Source added"), QStringList { "Source added: NEW (one)" });
        QCOMPARE(NDIFind::instance()->urlAddress("ZULU (cam)"), QStringLiteral("10.1.1.9:5961"));
        for (const char* unknown : { "NOBODY", "NEW (one)", "zulu (cam)" }) // never seen, without address, case matters
            QCOMPARE(NDIFind::instance()->urlAddress(unknown), QString());
    }
};

QTEST_GUILESS_MAIN(TestNdiFind)
#include "tst_ndifind.moc"
