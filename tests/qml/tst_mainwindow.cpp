#include "app/directoryvalidator.h"
#include "app/settingsmodel.h"
#include "render/mixer.h"
#include "tests/common/testenv.h"

#include <QFont>
#include <QMetaProperty>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QStandardItemModel>
#include <QTest>

#include <functional>

// Stands in for the slot list: the rows are slots written in QML, the roles their properties.
class FakeSlotList : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ rowCount CONSTANT)
    Q_PROPERTY(QObject* extra1 MEMBER extra1 CONSTANT)
    Q_PROPERTY(QObject* extra2 MEMBER extra2 CONSTANT)

public:
    QList<QObject*> rows;
    QObject *extra1 = nullptr, *extra2 = nullptr;
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
        return role == Qt::UserRole ? QVariant::fromValue(row)
                                    : row->metaObject()->property(role - Qt::UserRole - 1).read(row);
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

    QObject* make(const QByteArray& qml)
    {
        QQmlComponent component(m_engine.get());
        component.setData("import QtQml\n" + qml, QUrl::fromLocalFile(QStringLiteral(QML_TESTS_DIR "/")));
        QObject* object = component.create();
        if (!object)
            qFatal("%s", qPrintable(component.errorString()));
        object->setParent(m_objects.get());
        return object;
    }
    // sources: the sources model in QML, else a list of none.
    QQuickWindow* open(const char* sources = nullptr, int count = 9, int extras = 0, const QByteArray& slotValues = {})
    {
        close();
        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_objects = std::make_unique<QObject>();
        (m_slots = new FakeSlotList)->setParent(m_objects.get());
        const auto slot = [&](int i) {
            return make(QStringLiteral("FakeSlot { index0: %1; connectedSource: 'CAMERA-%1'; isConnected: true; ")
                            .arg(i)
                            .toUtf8()
                + slotValues + " }");
        };
        for (int i = 1; i <= count; ++i)
            m_slots->rows << slot(i);
        m_slots->extra1 = extras > 0 ? slot(count + 1) : nullptr,
        m_slots->extra2 = extras > 1 ? slot(count + 2) : nullptr;
        m_recordAll = make("QtObject { property bool isRecordingAll; property bool anyBusy; property int "
                           "toggles; property int stops\n"
                           "function toggleRecordingAll() { ++toggles }\nfunction stopEverything() { ++stops } }");
        m_engine->rootContext()->setContextProperties(
            { { QStringLiteral("myModel"), QVariant::fromValue(sources ? make(sources) : &m_sources) },
                { QStringLiteral("settingsModel"), QVariant::fromValue(SettingsModel::instance()) },
                { QStringLiteral("slotsModel"), QVariant::fromValue(m_slots) },
                { QStringLiteral("slotsRecorder"), QVariant::fromValue(m_recordAll) },
                { QStringLiteral("slotsAudioHelper"), QVariant::fromValue(m_objects.get()) } });
        m_engine->load(QUrl(QStringLiteral("qrc:/qt-project.org/imports/StavelinRecorder/main.qml")));
        QQuickWindow* win = m_engine->rootObjects().isEmpty()
            ? nullptr
            : qobject_cast<QQuickWindow*>(m_engine->rootObjects().first());
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
    static void click(QQuickWindow* win, const char* name)
    {
        QQuickItem* item = find(win->contentItem(), QLatin1String(name));
        QTest::mouseClick(
            win, Qt::LeftButton, {}, item->mapToScene(QPointF(item->width(), item->height()) / 2).toPoint());
    }
    static bool shown(QObject* o) { return o->property("visible").toBool(); }
    static QObject* child(QQuickWindow* win, const char* name) { return win->findChild<QObject*>(QLatin1String(name)); }
    int recordAll(const char* counter) const { return m_recordAll->property(counter).toInt(); }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestEnv::hasDisplay())
            QSKIP("no X display: run through CTest, whose fixture starts Xvfb");
        m_sources.setItemRoleNames({ { Qt::UserRole + 1, "name" } });
        QCoreApplication::setOrganizationName(QStringLiteral("Stavelin"));
        QCoreApplication::setApplicationName(QStringLiteral("Recorder"));
        QCoreApplication::setApplicationVersion(QStringLiteral(RECORDER_VERSION));
    }
    void cleanup()
    {
        close(), QSettings().remove(QStringLiteral("windowSettings")),
            SettingsModel::instance()->setStartMaximized(false);
    }

    void geometryPersistsAcrossRestart()
    {
        QQuickWindow* win = open();
        QVERIFY(win);
        win->setGeometry(QRect(130, 90, 1200, 700));
        QTRY_COMPARE(win->geometry(), QRect(130, 90, 1200, 700)); // once the display server confirmed it
        QVERIFY(win->close() && (win = open()));
        QCOMPARE(win->geometry(), QRect(130, 90, 1200, 700));
        QCOMPARE(win->visibility(), QWindow::Windowed);
        // Maximised when closed: maximised again, and the windowed size stays.
        win->showMaximized();
        QTRY_COMPARE(win->visibility(), QWindow::Maximized);
        QVERIFY(win->close() && (win = open()));
        QTRY_COMPARE(win->visibility(), QWindow::Maximized);
        win->showNormal();
        QTRY_COMPARE(win->size(), QSize(1200, 700));
        // Stored visibility and "start in full screen" against what the window opens in.
        for (auto [stored, fullScreenStart, expected] :
            QList<std::tuple<QWindow::Visibility, bool, QWindow::Visibility>> {
                { QWindow::FullScreen, false, QWindow::FullScreen }, { QWindow::Windowed, true, QWindow::FullScreen },
                { QWindow::Minimized, false, QWindow::Windowed }, { QWindow::Hidden, false, QWindow::Windowed } }) {
            close();
            QSettings().setValue(QStringLiteral("windowSettings/visibility"), int(stored));
            SettingsModel::instance()->setStartMaximized(fullScreenStart);
            QVERIFY(win = open());
            QTRY_COMPARE(win->visibility(), expected);
        }
    }

    // The cursor hides when idle, the toolbar stays; not under an open slot dialog; dialogs open centred.
    void idleAndDialogs()
    {
        QQuickWindow* win = open();
        QVERIFY(win);
        QVERIFY(!shown(child(win, "ndiRuntimeMessage"))); // the runtime started
        QQuickItem *toolbar = find(win->contentItem(), QStringLiteral("toolbar")),
                   *cursorArea = find(win->contentItem(), QStringLiteral("cursorArea"));
        const auto idle = [&](bool hidden) {
            QTRY_COMPARE_WITH_TIMEOUT(win->property("mouseHidden").toBool(), hidden, 8000);
            QVERIFY(toolbar->isVisible());
            QCOMPARE(cursorArea->cursor().shape(), hidden ? Qt::BlankCursor : Qt::ArrowCursor);
        };
        const QString title = QStringLiteral("Stavelin Recorder v" RECORDER_VERSION " GPU: ");
        QTRY_VERIFY(
            win->title().startsWith(title) && win->title().size() > title.size()); // names the renderer once drawn
        idle(false);
        idle(true);
        QTest::mouseMove(win, QPoint(500, 300)), QTest::mouseMove(win, QPoint(510, 310));
        idle(false);
        click(win, "globalSettingsButton");
        QObject* global = child(win, "globalSettingsDialog");
        QTRY_VERIFY(global->property("opened").toBool());
        const int width = global->property("width").toInt(), height = global->property("height").toInt();
        QCOMPARE(QPoint(global->property("x").toInt(), global->property("y").toInt()),
            QPoint((1100 - width) / 2, (619 - height) / 2));
        QMetaObject::invokeMethod(global, "close");
        QTRY_VERIFY(!global->property("visible").toBool());
        // Two cells selected, the settings button of one of them edits both.
        m_slots->rows.at(0)->setProperty("selected", true), m_slots->rows.at(4)->setProperty("selected", true);
        click(win, "settingsButton"); // the first cell's
        QObject* dialog = win->property("settingsDialog").value<QObject*>();
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->property("opened").toBool());
        QCOMPARE(dialog->property("title").toString(), QStringLiteral("Multiple Slots: 1, 5"));
        QCOMPARE(dialog->property("x").toInt(), (1100 - dialog->property("width").toInt()) / 2);
        QTRY_VERIFY_WITH_TIMEOUT(!child(win, "idleTimer")->property("running").toBool(), 8000);
        QVERIFY(!win->property("mouseHidden").toBool());
    }

    // Every layout at two window sizes: no cell reaches into the toolbar's band, and no two texts of a
    // cell, recording with everything to say, overlap or leave it. At 4x4 on 1920x1080 the name and
    // the state badge read from across the room.
    void layoutKeepsTextsApart_data()
    {
        QTest::addColumn<int>("grid");
        QTest::addColumn<QSize>("size");
        for (int grid : { 22, 32, 33, 43, 44, 242, 253 })
            for (QSize size : { QSize(1280, 720), QSize(1920, 1080) })
                QTest::addRow("%d at %dx%d", grid, size.width(), size.height()) << grid << size;
    }
    void layoutKeepsTextsApart()
    {
        QFETCH(int, grid);
        QFETCH(QSize, size);
        const SettingsModel::GridShape shape = SettingsModel::gridShapeFor(grid);
        SettingsModel::instance()->setAbRecording(true);
        const int gridSlots = shape.width * shape.height - (grid == 253 ? 1 : 0); // 2+14 leaves a cell to the clock
        QQuickWindow* win = open(nullptr, gridSlots, shape.extra,
            "displayName: 'Main stage wide camera with a long name'; stateWord: 'recording'; stateLabel: 'REC'; "
            "busy: true; isRecording: true; showLevels: true; warning: \"Recording can't keep up\"; "
            "formatLabel: '1920x1080 59.94p'; gainText: 'Gain +3.0 dB'; driveText: '412 GB free, 5 h 20 min left'; "
            "lowSpaceA: true; lowSpaceB: true; gigabytesAvailable: 8.5; gigabytesBAvailable: 2.5; telemetry: QtObject "
            "{ property string wallText: '01:02:03'; property string elapsedText: '01:01:00'; property real wallMs: "
            "3723000; property real elapsedMs: 3660000; property real droppedFrames: 80 }");
        QVERIFY(win);
        for (auto [name, value] :
            { std::pair { "gridColumns", shape.width }, { "gridRows", shape.height }, { "gridExtra", shape.extra } })
            win->setProperty(name, value);
        win->resize(size);
        QTRY_COMPARE(win->contentItem()->size(), QSizeF(size));
        const QImage shot = win->grabWindow(); // a frame: the positioners have laid out the new size
        const QRectF band
            = find(win->contentItem(), QStringLiteral("toolbar"))->mapRectToScene(QRectF(0, 0, size.width(), 44));
        QList<QQuickItem*> cells;
        const std::function<void(QQuickItem*)> collect = [&](QQuickItem* item) {
            const QString name = item->objectName();
            if (item->isVisible()
                && (name == QStringLiteral("gridItem") || name.startsWith(QStringLiteral("extraCell"))))
                cells << item;
            for (QQuickItem* child : item->childItems())
                collect(child);
        };
        collect(win->contentItem());
        QCOMPARE(cells.size(), gridSlots + shape.extra);
        QQuickItem* clock = find(win->contentItem(), QStringLiteral("clockCell")); // in the free cell of 2+14
        QCOMPARE(clock->isVisible(), grid == 253);
        const QStringList texts { "warningBar", "recBadge", "driveText", "formatLabel", "gainChip", "badgeA", "badgeB",
            "namePlate" };
        for (QQuickItem* cell : cells) {
            const QRectF box = cell->mapRectToScene(cell->boundingRect());
            QVERIFY2(!box.intersects(band) && box.top() >= band.bottom(), qPrintable(cell->objectName()));
            QVERIFY(!clock->isVisible() || !box.contains(clock->mapRectToScene(clock->boundingRect()).center()));
            QList<std::pair<QString, QRectF>> shown;
            for (const QString& name : texts) {
                QQuickItem* text = find(cell, name);
                QVERIFY2(text, qPrintable(name));
                if (!text->isVisible() && name == QStringLiteral("gainChip") && size.width() == 1280)
                    continue; // gives way to the format in the smallest cells
                QVERIFY2(text->isVisible(), qPrintable(name));
                const QRectF r = text->mapRectToScene(text->boundingRect());
                QVERIFY2(box.contains(r), qPrintable(name));
                for (const auto& [other, o] : shown)
                    QVERIFY2(!r.intersects(o), qPrintable(name + " overlaps " + other));
                shown.append({ name, r });
            }
        }
        if (grid == 44 && size.width() == 1920) {
            QQuickItem* cell = cells.last();
            QVERIFY(find(cell, QStringLiteral("nameLabel"))->property("font").value<QFont>().pixelSize() >= 18);
            QVERIFY(find(cell, QStringLiteral("recText"))->property("font").value<QFont>().pixelSize() >= 22);
        }
        if (const QString shots = qEnvironmentVariable("RECORDER_SHOTS"); !shots.isEmpty()) // to look at
            shot.save(QStringLiteral("%1/%2.png").arg(shots, QLatin1String(QTest::currentDataTag())));
    }

    // A runtime that cannot start is said in the window, with the words C++ gave.
    void ndiRuntimeMissingIsSaid()
    {
        QQuickWindow* win = open("QtObject { property string runtimeProblem: 'Install the NDI Runtime' }");
        QVERIFY(win);
        QTRY_VERIFY(shown(child(win, "ndiRuntimeMessage")));
        QCOMPARE(
            child(win, "ndiRuntimeMessage")->property("text").toString(), QStringLiteral("Install the NDI Runtime"));
    }

    void recordAllAndKeyboard()
    {
        QQuickWindow* win = open();
        QVERIFY(win);
        QObject *button = child(win, "recordAllButton"), *dialog = child(win, "stopAllConfirmation");
        win->requestActivate(); // shortcuts go to the active window
        QVERIFY(QTest::qWaitForWindowActive(win));
        // Start all at once, by the button or the keys; stop all only after a Yes.
        QCOMPARE(button->property("text").toString(), QStringLiteral("START ALL"));
        click(win, "recordAllButton");
        QTRY_COMPARE(recordAll("toggles"), 1);
        QTest::keyClick(win, Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_COMPARE(recordAll("toggles"), 2);
        m_recordAll->setProperty("isRecordingAll", true);
        QCOMPARE(button->property("text").toString(), QStringLiteral("STOP ALL"));
        for (const char* answer : { "reject", "accept" }) {
            click(win, "recordAllButton");
            QTRY_VERIFY(shown(dialog));
            QCOMPARE(recordAll("toggles"), 2);
            QMetaObject::invokeMethod(dialog, answer);
            QTRY_VERIFY(!shown(dialog));
        }
        QTRY_COMPARE(recordAll("toggles"), 3);
        m_recordAll->setProperty("isRecordingAll", false);
        m_recordAll->setProperty("anyBusy", true);
        QTest::keyClick(win, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_VERIFY(shown(dialog));
        QCOMPARE(recordAll("stops"), 0);
        QMetaObject::invokeMethod(dialog, "accept");
        QTRY_COMPARE(recordAll("stops"), 1);
        // Closing is refused with a message while anything records.
        QObject* refusal = nullptr;
        for (QObject* o : win->findChildren<QObject*>())
            refusal = o->property("text") == QStringLiteral("You have recording in progress") ? o : refusal;
        QVERIFY(refusal && !shown(refusal) && !win->close());
        QTRY_VERIFY(shown(refusal));
        QMetaObject::invokeMethod(refusal, "close");
        m_recordAll->setProperty("anyBusy", false);
        // Arrows select one cell, R records or stops it.
        for (Qt::Key key : { Qt::Key_Right, Qt::Key_Right, Qt::Key_Down })
            QTest::keyClick(win, key);
        QTRY_VERIFY(m_slots->rows.at(4)->property("selected").toBool());
        QVERIFY(!m_slots->rows.at(1)->property("selected").toBool());
        QTest::keyClick(win, Qt::Key_R);
        QTRY_COMPARE(m_slots->rows.at(4)->property("calls").toStringList().count(QStringLiteral("recordClicked")), 1);
        // F11 and the toolbar's button enter full screen, Escape and the button leave it; Ctrl+, opens the settings.
        for (auto [enter, leave] : QList<std::pair<bool, bool>> { { true, true }, { false, false } }) {
            enter ? QTest::keyClick(win, Qt::Key_F11) : click(win, "fullScreenButton");
            QTRY_COMPARE(win->visibility(), QWindow::FullScreen);
            leave ? QTest::keyClick(win, Qt::Key_Escape) : click(win, "fullScreenButton");
            QTRY_COMPARE(win->visibility(), QWindow::Windowed);
        }
        QTest::keyClick(win, Qt::Key_Comma, Qt::ControlModifier);
        QTRY_VERIFY(shown(child(win, "globalSettingsDialog")));
        QVERIFY(win->close());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
