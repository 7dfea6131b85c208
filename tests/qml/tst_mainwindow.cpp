#include "app/directoryvalidator.h"
#include "app/settingsmodel.h"
#include "render/mixer.h"
#include "tests/common/testenv.h"

#include <QAbstractListModel>
#include <QCursor>
#include <QGuiApplication>
#include <QMetaProperty>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QStandardItemModel>
#include <QTest>

// Stands in for the slot list: the rows are slots written in QML, the roles their properties.
class FakeSlotList : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ rowCount CONSTANT)
    Q_PROPERTY(QObject* extra1 MEMBER extra1 CONSTANT)
    Q_PROPERTY(QObject* extra2 MEMBER extra2 CONSTANT)

public:
    QList<QObject*> rows;
    QObject* extra1 = nullptr;
    QObject* extra2 = nullptr;
    int rowCount(const QModelIndex& = {}) const override { return int(rows.size()); }
    QHash<int, QByteArray> roleNames() const override
    {
        QHash<int, QByteArray> roles { { Qt::UserRole, "qtObject" } };
        for (int i = 0; i < rows.first()->metaObject()->propertyCount(); ++i)
            roles.insert(Qt::UserRole + 1 + i, rows.first()->metaObject()->property(i).name());
        return roles;
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        QObject* row = rows.at(index.row());
        return role == Qt::UserRole ? QVariant::fromValue(row) : row->metaObject()->property(role - Qt::UserRole - 1).read(row);
    }
    Q_INVOKABLE QObject* get(int row) const { return rows.value(row); }
};

// The main window in a real window on the headless display, over nine stand-in slots.
class TestMainWindow : public QObject
{
    Q_OBJECT
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    std::unique_ptr<QObject> m_objects; // the stand-ins, which outlive the window
    FakeSlotList* m_slots = nullptr;
    QObject* m_recordAll = nullptr;
    QStandardItemModel m_sources;

    QObject* make(const QByteArray& qml, const QUrl& file = {})
    {
        QQmlComponent component(m_engine.get());
        qml.isEmpty() ? component.loadUrl(file) : component.setData(qml, {});
        QObject* object = component.create();
        if (!object)
            qWarning() << component.errorString();
        object->setParent(m_objects.get());
        return object;
    }
    QQuickWindow* open()
    {
        close();
        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_objects = std::make_unique<QObject>();
        m_slots = new FakeSlotList;
        m_slots->setParent(m_objects.get());
        for (int i = 0; i < 9; ++i) {
            m_slots->rows << make({}, QUrl::fromLocalFile(QStringLiteral(QML_TESTS_DIR "/FakeSlot.qml")));
            m_slots->rows.last()->setProperty("index0", i + 1);
            m_slots->rows.last()->setProperty("connectedSource", QStringLiteral("CAMERA-%1 (Studio)").arg(i + 1));
            m_slots->rows.last()->setProperty("isConnected", true);
        }
        m_recordAll = make("import QtQml\nQtObject { property bool isRecordingAll; property bool isRecordingAny; property int toggles; property int stops\n"
                           "function toggleRecordingAll() { ++toggles }\nfunction stopEverything() { ++stops } }");
        QQmlContext* context = m_engine->rootContext();
        context->setContextProperty(QStringLiteral("myModel"), &m_sources);
        context->setContextProperty(QStringLiteral("settingsModel"), SettingsModel::instance());
        context->setContextProperty(QStringLiteral("slotsModel"), m_slots);
        context->setContextProperty(QStringLiteral("slotsRecorder"), m_recordAll);
        context->setContextProperty(QStringLiteral("slotsAudioHelper"), m_objects.get());
        m_engine->load(QUrl(QStringLiteral("qrc:///main.qml")));
        QQuickWindow* win = m_engine->rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(m_engine->rootObjects().first());
        return win && QTest::qWaitForWindowExposed(win) ? win : nullptr;
    }
    void close()
    {
        m_engine.reset(); // the window and its Settings go first: they write the store
        m_objects.reset();
    }
    // Searches the visual tree: delegates and loaded items are not always QObject children.
    static QQuickItem* find(QQuickItem* root, const QString& name)
    {
        if (root->objectName() == name)
            return root;
        for (QQuickItem* child : root->childItems())
            if (QQuickItem* found = find(child, name))
                return found;
        return nullptr;
    }
    static QPoint centre(QQuickItem* item) { return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint(); }
    static void click(QQuickWindow* win, const char* name) { QTest::mouseClick(win, Qt::LeftButton, {}, centre(find(win->contentItem(), QLatin1String(name)))); }
    static QObject* child(QQuickWindow* win, const char* name) { return win->findChild<QObject*>(QLatin1String(name)); }
    int recordAll(const char* counter) const { return m_recordAll->property(counter).toInt(); }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestEnv::hasDisplay())
            QSKIP("no X display: run through CTest, whose fixture starts Xvfb");
        m_sources.setItemRoleNames({ { Qt::UserRole + 1, "name" } });
        qmlRegisterType<DirectoryValidator>("StavelinRecorder", 1, 0, "DirectoryValidator");
        qmlRegisterType<Mixer>("StavelinRecorder", 1, 0, "Mixer");
        QCoreApplication::setOrganizationName(QStringLiteral("Stavelin"));
        QCoreApplication::setApplicationName(QStringLiteral("Recorder"));
    }
    void cleanup()
    {
        close();
        QSettings().remove(QStringLiteral("windowSettings"));
        SettingsModel::instance()->setStartMaximized(false);
    }

    void geometryPersistsAcrossRestart()
    {
        QQuickWindow* win = open();
        QVERIFY(win);
        win->setGeometry(QRect(130, 90, 1200, 700));
        QTRY_COMPARE(win->geometry(), QRect(130, 90, 1200, 700)); // once the display server confirmed it
        QVERIFY(win->close());
        QVERIFY(win = open());
        QCOMPARE(win->geometry(), QRect(130, 90, 1200, 700));
        QCOMPARE(win->visibility(), QWindow::Windowed);
        // Maximised when closed: maximised again, and the windowed size stays.
        win->showMaximized();
        QTRY_COMPARE(win->visibility(), QWindow::Maximized);
        QVERIFY(win->close());
        QVERIFY(win = open());
        QTRY_COMPARE(win->visibility(), QWindow::Maximized);
        win->showNormal();
        QTRY_COMPARE(win->size(), QSize(1200, 700));
    }

    void openingVisibility_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<bool>("startMaximized");
        QTest::addColumn<int>("expected");
        QTest::addRow("maximised") << int(QWindow::Maximized) << false << int(QWindow::Maximized);
        QTest::addRow("full screen") << int(QWindow::FullScreen) << false << int(QWindow::FullScreen);
        QTest::addRow("start in full screen wins") << int(QWindow::Windowed) << true << int(QWindow::FullScreen);
        QTest::addRow("minimised comes back windowed") << int(QWindow::Minimized) << false << int(QWindow::Windowed);
        QTest::addRow("hidden comes back windowed") << int(QWindow::Hidden) << false << int(QWindow::Windowed);
    }
    void openingVisibility()
    {
        QFETCH(int, stored);
        QFETCH(bool, startMaximized);
        QFETCH(int, expected);
        QSettings().setValue(QStringLiteral("windowSettings/visibility"), stored);
        SettingsModel::instance()->setStartMaximized(startMaximized);
        QQuickWindow* win = open();
        QVERIFY(win);
        QTRY_COMPARE(int(win->visibility()), expected);
    }

    void cursorAndToolbarHideWhenIdle()
    {
        QQuickWindow* win = open();
        QVERIFY(win);
        QQuickItem* toolbar = find(win->contentItem(), QStringLiteral("toolbar"));
        QQuickItem* cursorArea = find(win->contentItem(), QStringLiteral("cursorArea"));
        QVERIFY(toolbar && cursorArea && toolbar->isVisible());
        QCOMPARE(cursorArea->cursor().shape(), Qt::ArrowCursor);
        QTRY_VERIFY_WITH_TIMEOUT(win->property("mouseHidden").toBool(), 8000);
        QVERIFY(!toolbar->isVisible());
        QCOMPARE(cursorArea->cursor().shape(), Qt::BlankCursor);
        // A movement over a cell brings both back and starts the wait again.
        QTest::mouseMove(win, QPoint(500, 300));
        QTest::mouseMove(win, QPoint(510, 310));
        QTRY_VERIFY(!win->property("mouseHidden").toBool());
        QVERIFY(toolbar->isVisible());
        QCOMPARE(cursorArea->cursor().shape(), Qt::ArrowCursor);
    }

    void dialogsOpenCentred()
    {
        QQuickWindow* win = open();
        QVERIFY(win);
        click(win, "globalSettingsButton");
        QObject* global = child(win, "globalSettingsDialog");
        QTRY_VERIFY(global->property("opened").toBool());
        const int width = global->property("width").toInt(), height = global->property("height").toInt();
        QVERIFY(width % 2 == 0 && height % 2 == 0 && width >= 400 && height >= 450);
        QCOMPARE(QPoint(global->property("x").toInt(), global->property("y").toInt()), QPoint((1100 - width) / 2, (619 - height) / 2));
        QMetaObject::invokeMethod(global, "close");
        QTRY_VERIFY(!global->property("visible").toBool());
        // Two cells selected, the settings button of one of them edits both.
        QList<QQuickItem*> cells;
        for (QQuickItem* item : find(win->contentItem(), QStringLiteral("grid"))->childItems())
            if (item->objectName() == QLatin1String("gridItem"))
                cells << item;
        QTest::mouseClick(win, Qt::LeftButton, {}, centre(cells.at(0)));
        QTest::mouseClick(win, Qt::LeftButton, {}, centre(cells.at(4)));
        QTRY_VERIFY(m_slots->rows.at(4)->property("selected").toBool() && m_slots->rows.at(0)->property("selected").toBool());
        QTest::mouseClick(win, Qt::LeftButton, {}, centre(find(cells.at(4), QStringLiteral("settingsButton"))));
        QObject* dialog = win->property("settingsDialog").value<QObject*>();
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->property("opened").toBool());
        QCOMPARE(dialog->property("title").toString(), QStringLiteral("Multiple Slots: 1, 5"));
        QCOMPARE(dialog->property("x").toInt(), (1100 - dialog->property("width").toInt()) / 2);
        // An open slot dialog keeps cursor and toolbar from hiding.
        QTRY_VERIFY_WITH_TIMEOUT(!child(win, "idleTimer")->property("running").toBool(), 8000);
        QVERIFY(!win->property("mouseHidden").toBool());
    }

    void fullScreenButtonToggles()
    {
        QQuickWindow* win = open();
        QVERIFY(win);
        click(win, "fullScreenButton");
        QTRY_COMPARE(win->visibility(), QWindow::FullScreen);
        click(win, "fullScreenButton");
        QTRY_COMPARE(win->visibility(), QWindow::Windowed);
    }

    void recordAllButtonFollowsState()
    {
        QQuickWindow* win = open();
        QVERIFY(win);
        QQuickItem* button = find(win->contentItem(), QStringLiteral("recordAllButton"));
        QCOMPARE(button->property("text").toString(), QStringLiteral("START ALL"));
        click(win, "recordAllButton");
        QTRY_COMPARE(recordAll("toggles"), 1);
        m_recordAll->setProperty("isRecordingAll", true);
        QCOMPARE(button->property("text").toString(), QStringLiteral("STOP ALL"));
        // Stopping everything is asked for first; only Yes stops.
        QObject* dialog = child(win, "stopAllConfirmation");
        for (const char* answer : { "reject", "accept" }) {
            click(win, "recordAllButton");
            QTRY_VERIFY(dialog->property("visible").toBool());
            QCOMPARE(recordAll("toggles"), 1);
            QMetaObject::invokeMethod(dialog, answer);
            QTRY_VERIFY(!dialog->property("visible").toBool());
        }
        QTRY_COMPARE(recordAll("toggles"), 2);
    }

    void keyboard()
    {
        QQuickWindow* win = open();
        QVERIFY(win);
        QObject* dialog = child(win, "stopAllConfirmation");
        win->requestActivate(); // shortcuts go to the active window
        QVERIFY(QTest::qWaitForWindowActive(win));
        // Start all at once; stop all only after a Yes, from the keyboard too.
        QTest::keyClick(win, Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_COMPARE(recordAll("toggles"), 1);
        m_recordAll->setProperty("isRecordingAny", true);
        QTest::keyClick(win, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_VERIFY(dialog->property("visible").toBool());
        QCOMPARE(recordAll("stops"), 0);
        QMetaObject::invokeMethod(dialog, "accept");
        QTRY_COMPARE(recordAll("stops"), 1);
        // Arrows select one cell, R records or stops it.
        for (Qt::Key key : { Qt::Key_Right, Qt::Key_Right, Qt::Key_Down })
            QTest::keyClick(win, key);
        QTRY_VERIFY(m_slots->rows.at(4)->property("selected").toBool());
        QVERIFY(!m_slots->rows.at(1)->property("selected").toBool());
        QTest::keyClick(win, Qt::Key_R);
        QTRY_COMPARE(m_slots->rows.at(4)->property("calls").toStringList().filter(QStringLiteral("recordClicked")).size(), 1);
        // F11 enters full screen, Escape leaves it; Ctrl+, opens the settings.
        QTest::keyClick(win, Qt::Key_F11);
        QTRY_COMPARE(win->visibility(), QWindow::FullScreen);
        QTest::keyClick(win, Qt::Key_Escape);
        QTRY_COMPARE(win->visibility(), QWindow::Windowed);
        QTest::keyClick(win, Qt::Key_Comma, Qt::ControlModifier);
        QTRY_VERIFY(child(win, "globalSettingsDialog")->property("visible").toBool());
        m_recordAll->setProperty("isRecordingAny", false);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
