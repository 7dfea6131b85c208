#include "app/settingsmodel.h"
#include "tests/common/testenv.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QStandardItemModel>
#include <QtQuickTest>

// Gives every test document what the application publishes: the settings, the sources model and
// the folder validator. Slots and the window are stood in for inside the documents.
class QmlTestSetup : public QObject
{
    Q_OBJECT
    QStandardItemModel m_sources;
    int m_folders = 0;

public Q_SLOTS:
    void qmlEngineAvailable(QQmlEngine* engine)
    {
        m_sources.setItemRoleNames({ { Qt::UserRole + 1, "name" } });
        if (m_sources.rowCount() == 0)
            for (const char* name : { "CAMERA-1 (Stage)", "CAMERA-2 (Desk)", "PLAYOUT (Program)" }) {
                m_sources.appendRow(new QStandardItem);
                m_sources.item(m_sources.rowCount() - 1)->setData(QString::fromUtf8(name), Qt::UserRole + 1);
            }
        engine->rootContext()->setContextProperty(QStringLiteral("settingsModel"), SettingsModel::instance());
        engine->rootContext()->setContextProperty(QStringLiteral("myModel"), &m_sources);
        engine->rootContext()->setContextProperty(
            QStringLiteral("testFolder"), TestEnv::makeFolder(QStringLiteral("folder-%1").arg(++m_folders)));
    }
};

QUICK_TEST_MAIN_WITH_SETUP(ui, QmlTestSetup)

#include "tst_qml.moc"
