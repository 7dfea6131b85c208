#include "app/directoryvalidator.h"
#include "app/settingsmodel.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "tests/common/testenv.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QStandardItemModel>
#include <QtQuickTest>

#include <memory>

// Gives every test document what the application publishes: the settings, the sources model
// and the folder validator. Slots and the window are stood in for inside the documents.
class QmlTestSetup : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void cleanupTestCase() { m_slotList.reset(); }

    void qmlEngineAvailable(QQmlEngine* engine)
    {
        static bool registered = false;
        if (!registered) {
            qmlRegisterType<DirectoryValidator>("StavelinRecorder", 1, 0, "DirectoryValidator");
            qmlRegisterType<Slot>("StavelinRecorder", 1, 0, "Slot");
            registered = true;
        }
        m_sources.setItemRoleNames({ { Qt::UserRole + 1, "name" } });
        if (m_sources.rowCount() == 0) {
            for (const char* name : { "CAMERA-1 (Stage)", "CAMERA-2 (Desk)", "PLAYOUT (Program)" }) {
                auto* item = new QStandardItem;
                item->setData(QString::fromUtf8(name), Qt::UserRole + 1);
                m_sources.appendRow(item);
            }
        }
        engine->rootContext()->setContextProperty(QStringLiteral("settingsModel"), SettingsModel::instance());
        engine->rootContext()->setContextProperty(QStringLiteral("myModel"), &m_sources);
        if (!m_slotList) {
            m_slotList = std::make_unique<SlotListModel>();
            m_slotList->createSlots(2, 1, 2); // two special slots and two grid slots
        }
        engine->rootContext()->setContextProperty(QStringLiteral("realSlotList"), m_slotList.get());
        engine->rootContext()->setContextProperty(
            QStringLiteral("testFolder"), TestEnv::makeFolder(QStringLiteral("folder-%1").arg(++m_folders)));
    }

private:
    QStandardItemModel m_sources;
    // Slots need the application object to go away cleanly, so they go before it does.
    std::unique_ptr<SlotListModel> m_slotList;
    int m_folders = 0;
};

QUICK_TEST_MAIN_WITH_SETUP(ui, QmlTestSetup)

#include "tst_qml.moc"
