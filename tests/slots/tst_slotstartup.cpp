#include "ndi/ndifind.h"
#include "ndi/sourcesmodel.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "slots/slotlistrecorder.h"
#include "tests/slots/slottestsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QTest>

// The slots as the application builds them, on the demo network that discovery finds without a
// network file: a source picked from the discovered list is recorded into a real file.
class TestSlotStartup : public QObject
{
    Q_OBJECT

private:
    QString m_folder;

private Q_SLOTS:
    void initTestCase()
    {
        SlotTest::setUpApplication();
        qunsetenv("NDI_SIM_SOURCES");
        if (!SlotTest::recordingProgramExists())
            QSKIP("the recording program has not been built");
        SlotTest::clearStore();
        m_folder = TestEnv::makeFolder(QStringLiteral("recordings"));
        QSettings settings;
        settings.setValue(QStringLiteral("gridDimensions"), 242);
        settings.setValue(QStringLiteral("defaultLocation"), m_folder);
    }

    void pickedSourceIsRecorded()
    {
        auto sources = std::make_unique<SourcesModel>();
        connect(NDIFind::instance(), &NDIFind::sourceAdded, sources.get(), &SourcesModel::sourceAdded);
        Slot::setSourcesModel(sources.get());
        SettingsModel* settings = SettingsModel::instance();
        QCOMPARE(settings->gridExtra(), 2);

        auto slotList = std::make_unique<SlotListModel>();
        slotList->createSlots(settings->gridWidth(), settings->gridHeight(), settings->gridExtra());
        SlotListRecorder recorder(slotList.get());
        QCOMPARE(slotList->allSlots().size(), 10);
        QCOMPARE(slotList->extra1()->index0(), 1);
        QCOMPARE(slotList->at(0)->index0(), 3);

        const QString wanted = QStringLiteral("DEMO (Camera 1)");
        QTRY_VERIFY_WITH_TIMEOUT(sources->rowCount() > 0, 10000);
        int row = -1;
        QTRY_VERIFY_WITH_TIMEOUT((row =
                                         [&] {
                                             for (int i = 0; i < sources->rowCount(); ++i) {
                                                 if (sources->sourceAt(i) == wanted)
                                                     return i;
                                             }
                                             return -1;
                                         }())
                >= 0,
            10000);

        Slot* slot = slotList->at(0);
        slot->setSelectedInd(row);
        slot->acceptClicked();
        QCOMPARE(slot->connectedSource(), wanted);
        QCOMPARE(slot->currentFolder(), m_folder);

        slot->recordClicked();
        QVERIFY(slot->isWaiting());
        QTRY_VERIFY_WITH_TIMEOUT(slot->isRecording(), 20000);
        QVERIFY(recorder.isRecordingAny());
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(m_folder).entryList({ QStringLiteral("*.mov") }, QDir::Files).isEmpty(), 20000);
        QPointer<QProcess> recording(slot->recorder()->currentProcess());
        slot->recordClicked();
        QVERIFY(!slot->isRecording());
        QTRY_VERIFY_WITH_TIMEOUT(recording.isNull(), 20000);

        const QStringList files = QDir(m_folder).entryList({ QStringLiteral("*.mov") }, QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY2(files.first().startsWith(wanted + QLatin1Char('_')), qPrintable(files.first()));
        QVERIFY(QFileInfo(QDir(m_folder).filePath(files.first())).size() > 0);

        // Tear-down as the application does it; the slots persist themselves on the way.
        slotList.reset();
        sources.reset();
        Slot::setSourcesModel(nullptr);
        QSettings store;
        QCOMPARE(store.value(QStringLiteral("slots/4/source")).toString(), wanted);
        QCOMPARE(store.value(QStringLiteral("slots/size")).toInt(), 11);
    }
};

QTEST_GUILESS_MAIN(TestSlotStartup)
#include "tst_slotstartup.moc"
