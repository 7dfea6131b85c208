#include "app/directoryvalidator.h"
#include "render/mixer.h"
#include "tests/common/testenv.h"
#include "tests/qml/fakeslotlist.h"

#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QPalette>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QStandardItemModel>
#include <QTest>

#include <memory>

namespace
{

struct Layout {
    int columns;
    int rows;
    int extra;
};

int slotCount(const Layout& layout)
{
    return std::min(layout.columns * layout.rows + layout.extra, 16) - layout.extra;
}

} // namespace

// The main window in a real window on the headless display, with stand-ins for the slots.
class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QQmlEngine> m_objectsEngine; // owns the stand-in slots and settings
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    std::unique_ptr<FakeSlotList> m_slots;
    std::unique_ptr<FakeRecordAll> m_recordAll;
    std::unique_ptr<QObject> m_settings;
    std::unique_ptr<QObject> m_audioHelper;
    QStandardItemModel m_sources;
    QList<QObject*> m_slotObjects;

    QObject* createFromFile(const char* file)
    {
        QQmlComponent component(
            m_objectsEngine.get(), QUrl::fromLocalFile(QStringLiteral(QML_TESTS_DIR "/") + QLatin1String(file)));
        QObject* object = component.create();
        if (!object)
            qWarning() << component.errorString();
        return object;
    }

    QQuickWindow* window() const
    {
        return m_engine && !m_engine->rootObjects().isEmpty()
            ? qobject_cast<QQuickWindow*>(m_engine->rootObjects().first())
            : nullptr;
    }

    // Builds the stand-ins for a layout and opens the window.
    QQuickWindow* open(const Layout& layout, bool startMaximized = false)
    {
        close();
        m_objectsEngine = std::make_unique<QQmlEngine>();
        m_settings.reset(createFromFile("FakeSettings.qml"));
        if (!m_settings)
            return nullptr;
        m_settings->setProperty("gridWidth", layout.columns);
        m_settings->setProperty("gridHeight", layout.rows);
        m_settings->setProperty("gridExtra", layout.extra);
        m_settings->setProperty("startMaximized", startMaximized);
        m_slots = std::make_unique<FakeSlotList>();
        m_recordAll = std::make_unique<FakeRecordAll>();
        m_audioHelper = std::make_unique<QObject>();
        const int total = slotCount(layout) + layout.extra;
        for (int i = 0; i < total; ++i) {
            QObject* slot = createFromFile("FakeSlot.qml");
            slot->setProperty("index0", i + 1);
            slot->setProperty("connectedSource", QStringLiteral("CAMERA-%1 (Studio)").arg(i + 1));
            slot->setProperty("isConnected", true);
            slot->setProperty("leftLevel", 20 + 5 * i);
            slot->setProperty("rightLevel", 15 + 5 * i);
            slot->setProperty("tallyState", i % 3);
            m_slotObjects.append(slot);
        }
        if (layout.extra >= 1)
            m_slots->setExtra1(m_slotObjects.at(0));
        if (layout.extra >= 2)
            m_slots->setExtra2(m_slotObjects.at(1));
        m_slots->setRows(m_slotObjects.mid(layout.extra));

        m_engine = std::make_unique<QQmlApplicationEngine>();
        QQmlContext* context = m_engine->rootContext();
        context->setContextProperty(QStringLiteral("myModel"), &m_sources);
        context->setContextProperty(QStringLiteral("settingsModel"), m_settings.get());
        context->setContextProperty(QStringLiteral("slotsModel"), m_slots.get());
        context->setContextProperty(QStringLiteral("slotsRecorder"), m_recordAll.get());
        context->setContextProperty(QStringLiteral("slotsAudioHelper"), m_audioHelper.get());
        m_engine->load(QUrl(QStringLiteral("qrc:///main.qml")));
        QQuickWindow* win = window();
        if (win && !QTest::qWaitForWindowExposed(win))
            return nullptr;
        return win;
    }

    void close()
    {
        m_engine.reset(); // the window and its Settings go first: they write the store
        m_slots.reset();
        qDeleteAll(m_slotObjects);
        m_slotObjects.clear();
        m_settings.reset();
        m_objectsEngine.reset();
    }

    // Searches the visual tree: delegates and loaded items are not always QObject children.
    static QQuickItem* findItem(QQuickItem* root, const QString& name)
    {
        if (root->objectName() == name)
            return root;
        for (QQuickItem* child : root->childItems())
            if (QQuickItem* found = findItem(child, name))
                return found;
        return nullptr;
    }

    static QQuickItem* findItem(QQuickWindow* win, const QString& name) { return findItem(win->contentItem(), name); }

    static QList<QQuickItem*> gridItems(QQuickWindow* win)
    {
        QList<QQuickItem*> items;
        QQuickItem* grid = findItem(win, QStringLiteral("grid"));
        if (!grid)
            return items;
        for (QQuickItem* child : grid->childItems())
            if (child->objectName() == QLatin1String("gridItem"))
                items.append(child);
        return items;
    }

    static QRect sceneRect(QQuickItem* item)
    {
        const QPointF topLeft = item->mapToScene(QPointF(0, 0));
        return QRect(qRound(topLeft.x()), qRound(topLeft.y()), qRound(item->width()), qRound(item->height()));
    }

    static void saveScreenshot(QQuickWindow* win, const QString& name)
    {
        const QString folder = QStringLiteral(RECORDER_BIN_DIR "/../artifacts");
        QDir().mkpath(folder);
        win->grabWindow().save(folder + QStringLiteral("/") + name + QStringLiteral(".png"));
    }

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
        QCoreApplication::setApplicationVersion(QStringLiteral("0.9.6.0"));

        // The application's dark palette, so the pictures show the dialogs as users see them.
        QPalette palette;
        palette.setColor(QPalette::Window, QColor(53, 53, 53));
        palette.setColor(QPalette::WindowText, Qt::white);
        palette.setColor(QPalette::Base, QColor(30, 30, 30));
        palette.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
        palette.setColor(QPalette::ToolTipBase, QColor(30, 30, 30));
        palette.setColor(QPalette::ToolTipText, QColor(188, 188, 188));
        palette.setColor(QPalette::Text, Qt::white);
        palette.setColor(QPalette::Button, QColor(53, 53, 53));
        palette.setColor(QPalette::ButtonText, Qt::white);
        palette.setColor(QPalette::Inactive, QPalette::ButtonText, Qt::gray);
        palette.setColor(QPalette::BrightText, Qt::red);
        palette.setColor(QPalette::Light, QColor(53, 53, 53));
        palette.setColor(QPalette::Midlight, QColor(50, 50, 50));
        palette.setColor(QPalette::Mid, QColor(35, 35, 35));
        palette.setColor(QPalette::Dark, QColor(188, 188, 188));
        palette.setColor(QPalette::Highlight, QColor(129, 41, 254));
        palette.setColor(QPalette::HighlightedText, Qt::black);
        QGuiApplication::setPalette(palette);
    }

    void cleanup() { close(); }

    void cellsTileTheWindow_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("extra");
        QTest::addColumn<QRect>("firstCell");
        QTest::addColumn<QRect>("lastCell");
        QTest::addRow("3x3") << 3 << 3 << 0 << QRect(0, 0, 367, 207) << QRect(734, 413, 366, 206);
        QTest::addRow("4x4") << 4 << 4 << 0 << QRect(0, 0, 275, 155) << QRect(825, 465, 275, 154);
        QTest::addRow("2+8") << 4 << 2 << 2 << QRect(0, 309, 275, 155) << QRect(825, 464, 275, 155);
        QTest::addRow("2+14") << 5 << 3 << 2 << QRect(0, 247, 220, 124) << QRect(660, 495, 220, 124);
    }
    void cellsTileTheWindow()
    {
        QFETCH(int, columns);
        QFETCH(int, rows);
        QFETCH(int, extra);
        QFETCH(QRect, firstCell);
        QFETCH(QRect, lastCell);
        QQuickWindow* win = open({ columns, rows, extra });
        QVERIFY(win);
        QCOMPARE(win->size(), QSize(1100, 619));

        const QList<QQuickItem*> items = gridItems(win);
        QCOMPARE(items.size(), slotCount({ columns, rows, extra }));
        QCOMPARE(sceneRect(items.first()), firstCell);
        QCOMPARE(sceneRect(items.last()), lastCell);

        // Every cell starts where its left and upper neighbours end, and full rows end at the edge.
        const int top = firstCell.y();
        for (int k = 0; k < items.size(); ++k) {
            const QRect cell = sceneRect(items.at(k));
            const int column = k % columns;
            const int row = k / columns;
            if (column == 0)
                QCOMPARE(cell.x(), 0);
            else
                QCOMPARE(cell.x(), sceneRect(items.at(k - 1)).right() + 1);
            if (row == 0)
                QCOMPARE(cell.y(), top);
            else
                QCOMPARE(cell.y(), sceneRect(items.at(k - columns)).bottom() + 1);
            if (column == columns - 1)
                QCOMPARE(cell.right(), 1099);
            if (row == rows - 1)
                QCOMPARE(cell.bottom(), 618);
        }

        QQuickItem* extra1 = findItem(win, QStringLiteral("extraCell1"));
        QQuickItem* extra2 = findItem(win, QStringLiteral("extraCell2"));
        QQuickItem* clock = findItem(win, QStringLiteral("clock"));
        QVERIFY(extra1 && extra2 && clock);
        QCOMPARE(extra1->isVisible(), extra >= 1);
        QCOMPARE(extra2->isVisible(), extra >= 2);
        if (extra) {
            QCOMPARE(sceneRect(extra1), QRect(0, 0, 550, top));
            QCOMPARE(sceneRect(extra2), QRect(550, 0, 550, top));
        }
        QCOMPARE(clock->isVisible(), extra == 2 && rows == 3);
        if (clock->isVisible()) {
            // The clock takes the one grid cell that has no slot: bottom right.
            QCOMPARE(sceneRect(clock), QRect(880, 495, 220, 124));
        }

        // Stand in for the video underneath, so the picture shows the overlay as a user sees it.
        win->setColor(QColor(38, 44, 52));
        // A busy machine may have let the idle time run out: a movement over the last cell wakes the
        // toolbar again (and shows that cell's hover controls in the picture).
        const QRect last = sceneRect(items.last());
        QTest::mouseMove(win, last.center());
        QTest::mouseMove(win, last.center() + QPoint(3, 3));
        QTRY_VERIFY(findItem(win, QStringLiteral("toolbar"))->isVisible());
        QTest::qWait(300); // let the meters and the clock draw once before the picture is taken
        saveScreenshot(win,
            QStringLiteral("layout-%1")
                .arg(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char('+'), QLatin1String("plus"))));
    }

    // The preview item is found by its name, as the start-up looks for it, and names the renderer
    // in the title once it has drawn.
    void mixerIsFoundAndTitled()
    {
        QQuickWindow* win = open({ 3, 3, 0 });
        QVERIFY(win);
        auto* mixer = win->findChild<Mixer*>(QStringLiteral("mixer"), Qt::FindChildrenRecursively);
        QVERIFY(mixer);
        const QString prefix = QStringLiteral("Stavelin Recorder v0.9.6.0 GPU: ");
        QVERIFY2(win->title().startsWith(prefix), qPrintable(win->title()));
        QTRY_VERIFY_WITH_TIMEOUT(!mixer->gpuName().isEmpty() || mixer->cannotInitialize(), 10000);
        if (!mixer->cannotInitialize())
            QCOMPARE(win->title(), prefix + mixer->gpuName());
    }

    void closeIsRefusedWhileRecording_data()
    {
        QTest::addColumn<bool>("all");
        QTest::addColumn<bool>("any");
        QTest::addColumn<bool>("closes");
        QTest::addRow("idle") << false << false << true;
        QTest::addRow("one slot recording") << false << true << false;
        QTest::addRow("all recording") << true << true << false;
    }
    void closeIsRefusedWhileRecording()
    {
        QFETCH(bool, all);
        QFETCH(bool, any);
        QFETCH(bool, closes);
        QQuickWindow* win = open({ 3, 3, 0 });
        QVERIFY(win);
        m_recordAll->setIsRecordingAll(all);
        m_recordAll->setIsRecordingAny(any);
        QCOMPARE(win->close(), closes);
        QCOMPARE(win->isVisible(), !closes);
    }

    void geometryPersistsAcrossRestart()
    {
        QQuickWindow* win = open({ 3, 3, 0 });
        QVERIFY(win);
        win->setGeometry(QRect(130, 90, 1200, 700));
        // The window's own geometry follows once the display server has confirmed the change.
        QTRY_COMPARE(win->width(), 1200);
        QTRY_COMPARE(win->position(), QPoint(130, 90));
        QVERIFY(win->close());
        close();

        win = open({ 3, 3, 0 });
        QVERIFY(win);
        QCOMPARE(win->size(), QSize(1200, 700));
        QCOMPARE(win->position(), QPoint(130, 90));
        QCOMPARE(win->visibility(), QWindow::Windowed);

        // Maximised when closed: maximised again, and the stored windowed size stays.
        win->showMaximized();
        QTRY_COMPARE(win->visibility(), QWindow::Maximized);
        QVERIFY(win->close());
        close();
        QSettings store;
        QCOMPARE(store.value(QStringLiteral("windowSettings/width")).toInt(), 1200);
        QCOMPARE(store.value(QStringLiteral("windowSettings/height")).toInt(), 700);

        win = open({ 3, 3, 0 });
        QVERIFY(win);
        QTRY_COMPARE(win->visibility(), QWindow::Maximized);
        win->showNormal();
        QTRY_COMPARE(win->size(), QSize(1200, 700));
        QVERIFY(win->close());
        close();
        QSettings().remove(QStringLiteral("windowSettings"));
    }

    void cursorAndToolbarHideWhenIdle()
    {
        QQuickWindow* win = open({ 3, 3, 0 });
        QVERIFY(win);
        QQuickItem* toolbar = findItem(win, QStringLiteral("toolbar"));
        QQuickItem* cursorArea = findItem(win, QStringLiteral("cursorArea"));
        QVERIFY(toolbar && cursorArea);
        QVERIFY(toolbar->isVisible());
        QCOMPARE(cursorArea->cursor().shape(), Qt::ArrowCursor);

        QTRY_VERIFY_WITH_TIMEOUT(win->property("mouseHidden").toBool(), 8000);
        QVERIFY(!toolbar->isVisible());
        QCOMPARE(cursorArea->cursor().shape(), Qt::BlankCursor);
        if (win->geometry().contains(QCursor::pos()))
            QTRY_COMPARE(win->cursor().shape(), Qt::BlankCursor);

        // A movement over a cell brings both back and starts the wait again.
        QTest::mouseMove(win, QPoint(500, 300));
        QTest::mouseMove(win, QPoint(510, 310));
        QTRY_VERIFY(!win->property("mouseHidden").toBool());
        QVERIFY(toolbar->isVisible());
        QCOMPARE(cursorArea->cursor().shape(), Qt::ArrowCursor);
    }

    void dialogsOpenCentred()
    {
        QQuickWindow* win = open({ 3, 3, 0 });
        QVERIFY(win);
        win->setColor(QColor(38, 44, 52));

        QQuickItem* settingsButton = findItem(win, QStringLiteral("globalSettingsButton"));
        QVERIFY(settingsButton);
        QTest::mouseClick(win, Qt::LeftButton, {}, settingsButton->mapToScene(QPointF(17, 18)).toPoint());
        QObject* global = win->findChild<QObject*>(QStringLiteral("globalSettingsDialog"));
        QVERIFY(global);
        QTRY_VERIFY(global->property("opened").toBool());
        const int width = global->property("width").toInt();
        const int height = global->property("height").toInt();
        QCOMPARE(width % 2, 0);
        QCOMPARE(height % 2, 0);
        QVERIFY(width >= 400 && height >= 450);
        QCOMPARE(global->property("x").toInt(), (1100 - width) / 2);
        QCOMPARE(global->property("y").toInt(), (619 - height) / 2);
        QTest::qWait(300);
        saveScreenshot(win, QStringLiteral("dialog-settings"));
        QMetaObject::invokeMethod(global, "close");
        QTRY_VERIFY(!global->property("visible").toBool());

        // Select two cells, then the settings button of one of them edits both.
        const QList<QQuickItem*> items = gridItems(win);
        QTest::mouseClick(win, Qt::LeftButton, {}, sceneRect(items.at(0)).center());
        QTest::mouseClick(win, Qt::LeftButton, {}, sceneRect(items.at(4)).center());
        QTRY_VERIFY(m_slotObjects.at(4)->property("selected").toBool());
        QVERIFY(m_slotObjects.at(0)->property("selected").toBool());
        QQuickItem* cellSettings = findItem(items.at(4), QStringLiteral("settingsButton"));
        QVERIFY(cellSettings);
        QTest::mouseClick(win, Qt::LeftButton, {}, cellSettings->mapToScene(QPointF(17, 18)).toPoint());
        QObject* dialog = win->property("settingsDialog").value<QObject*>();
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->property("opened").toBool());
        QCOMPARE(dialog->property("title").toString(), QStringLiteral("Multiple Slots: 1, 5"));
        QCOMPARE(dialog->property("x").toInt(), (1100 - dialog->property("width").toInt()) / 2);
        QTest::qWait(300);
        saveScreenshot(win, QStringLiteral("dialog-slots"));

        // An open slot dialog keeps cursor and toolbar from hiding.
        QObject* idleTimer = win->findChild<QObject*>(QStringLiteral("idleTimer"));
        QVERIFY(idleTimer);
        QTRY_VERIFY_WITH_TIMEOUT(!idleTimer->property("running").toBool(), 8000);
        QVERIFY(!win->property("mouseHidden").toBool());
    }

    void openingVisibility_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<bool>("startMaximized");
        QTest::addColumn<int>("expected");
        QTest::addRow("windowed") << int(QWindow::Windowed) << false << int(QWindow::Windowed);
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
        QQuickWindow* win = open({ 3, 3, 0 }, startMaximized);
        QVERIFY(win);
        QTRY_COMPARE(int(win->visibility()), expected);
        QVERIFY(win->close());
        close();
        QSettings().remove(QStringLiteral("windowSettings"));
    }

    void fullScreenButtonToggles()
    {
        QQuickWindow* win = open({ 3, 3, 0 });
        QVERIFY(win);
        QQuickItem* button = findItem(win, QStringLiteral("fullScreenButton"));
        QVERIFY(button);
        const QPoint centre = button->mapToScene(QPointF(17, 18)).toPoint();
        QCOMPARE(win->visibility(), QWindow::Windowed);
        QTest::mouseClick(win, Qt::LeftButton, {}, centre);
        QTRY_COMPARE(win->visibility(), QWindow::FullScreen);
        QTest::mouseClick(win, Qt::LeftButton, {}, button->mapToScene(QPointF(17, 18)).toPoint());
        QTRY_COMPARE(win->visibility(), QWindow::Windowed);
        QVERIFY(win->close());
        close();
        QSettings().remove(QStringLiteral("windowSettings"));
    }

    void recordAllButtonFollowsState()
    {
        QQuickWindow* win = open({ 3, 3, 0 });
        QVERIFY(win);
        QQuickItem* button = findItem(win, QStringLiteral("recordAllButton"));
        QVERIFY(button);
        QCOMPARE(button->property("text").toString(), QStringLiteral("START ALL"));
        m_recordAll->setIsRecordingAll(true);
        QCOMPARE(button->property("text").toString(), QStringLiteral("STOP ALL"));
        // Stopping everything is asked for first; only Yes stops.
        QObject* dialog = win->findChild<QObject*>(QStringLiteral("stopAllConfirmation"));
        QVERIFY(dialog);
        const QPointF centre = button->mapToScene(QPointF(button->width() / 2, button->height() / 2));
        QTest::mouseClick(win, Qt::LeftButton, {}, centre.toPoint());
        QTRY_VERIFY(dialog->property("visible").toBool());
        QCOMPARE(m_recordAll->toggles, 0);
        QMetaObject::invokeMethod(dialog, "reject");
        QTRY_VERIFY(!dialog->property("visible").toBool());
        QCOMPARE(m_recordAll->toggles, 0);
        QTest::mouseClick(win, Qt::LeftButton, {}, centre.toPoint());
        QTRY_VERIFY(dialog->property("visible").toBool());
        QMetaObject::invokeMethod(dialog, "accept");
        QTRY_COMPARE(m_recordAll->toggles, 1);
    }

    void keyboard()
    {
        QQuickWindow* win = open({ 3, 3, 0 });
        QVERIFY(win);
        QObject* dialog = win->findChild<QObject*>(QStringLiteral("stopAllConfirmation"));
        QVERIFY(dialog);
        // Shortcuts go to the active window.
        win->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(win));
        // Start all at once; stop all only after a Yes, from the keyboard too.
        QTest::keyClick(win, Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_COMPARE(m_recordAll->toggles, 1);
        m_recordAll->setIsRecordingAny(true);
        QTest::keyClick(win, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_VERIFY(dialog->property("visible").toBool());
        QCOMPARE(m_recordAll->stops, 0);
        QMetaObject::invokeMethod(dialog, "accept");
        QTRY_COMPARE(m_recordAll->stops, 1);

        // Arrows select one cell, R records or stops it.
        QTest::keyClick(win, Qt::Key_Right);
        QTest::keyClick(win, Qt::Key_Right);
        QTest::keyClick(win, Qt::Key_Down);
        QObject* fifth = m_slotObjects.at(4);
        QTRY_VERIFY(fifth->property("selected").toBool());
        QCOMPARE(m_slotObjects.at(1)->property("selected").toBool(), false);
        QTest::keyClick(win, Qt::Key_R);
        QTRY_VERIFY(fifth->property("calls").toStringList().contains(QStringLiteral("recordClicked")));

        // F11 enters full screen, Escape leaves it; Ctrl+, opens the settings.
        QTest::keyClick(win, Qt::Key_F11);
        QTRY_COMPARE(win->visibility(), QWindow::FullScreen);
        QTest::keyClick(win, Qt::Key_Escape);
        QTRY_COMPARE(win->visibility(), QWindow::Windowed);
        QObject* settings = win->findChild<QObject*>(QStringLiteral("globalSettingsDialog"));
        QVERIFY(settings);
        QTest::keyClick(win, Qt::Key_Comma, Qt::ControlModifier);
        QTRY_VERIFY(settings->property("visible").toBool());
        m_recordAll->setIsRecordingAny(false);
        QVERIFY(win->close());
        close();
        QSettings().remove(QStringLiteral("windowSettings"));
    }
};

QTEST_MAIN(TestMainWindow)

#include "tst_mainwindow.moc"
