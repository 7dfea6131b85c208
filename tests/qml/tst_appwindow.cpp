#include "tests/common/apprun.h"
#include "tests/common/controlclient.h"
#include "tests/common/simnetwork.h"
#include "tests/common/testenv.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTest>

#include <xcb/xcb.h>

#include <cstring>

namespace
{
QImage grab()
{
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, 0, 0, 1100, 619)
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}
bool near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) < 12 && std::abs(qGreen(a) - qGreen(b)) < 12
        && std::abs(qBlue(a) - qBlue(b)) < 12;
}

// Talks to the display as a window manager would: finds the app's window and asks it to close.
struct WindowManager {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    ~WindowManager() { xcb_disconnect(c); }
    uint32_t window() const // the one mapped top-level window: this process shows none
    {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(
            c, xcb_query_tree(c, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root), nullptr);
        uint32_t found = 0;
        for (int i = 0; tree && i < xcb_query_tree_children_length(tree) && !found; ++i) {
            xcb_get_window_attributes_reply_t* a = xcb_get_window_attributes_reply(
                c, xcb_get_window_attributes(c, xcb_query_tree_children(tree)[i]), nullptr);
            found = a && a->map_state == XCB_MAP_STATE_VIEWABLE ? xcb_query_tree_children(tree)[i] : 0;
            free(a);
        }
        free(tree);
        return found;
    }
    void requestClose(uint32_t window) const
    {
        const auto atom = [this](const char* name) {
            xcb_intern_atom_reply_t* reply
                = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
            const uint32_t result = reply ? reply->atom : 0;
            free(reply);
            return result;
        };
        xcb_client_message_event_t event {};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = atom("WM_PROTOCOLS");
        event.data.data32[0] = atom("WM_DELETE_WINDOW");
        xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
        xcb_flush(c);
    }
};
} // namespace

// The real application on the display, seen from outside: its cells and pictures where they
// belong, and a window manager's close refused while a slot records.
class TestAppWindow : public QObject
{
    Q_OBJECT

    // The app at the origin with this grid; slot k shows a solid picture of colours[k - 1], slot 2
    // is on program (a red tally border), the other slots are unbound.
    static bool start(E2E::AppRun& app, int grid, const QList<QColor>& colours)
    {
        QJsonArray sources;
        for (int k = 1; k <= colours.size(); ++k) {
            QJsonObject source = NdiSim::source(QStringLiteral("SRC (%1)").arg(k),
                NdiSim::video(640, 360, QStringLiteral("BGRA"), QStringLiteral("solid"), colours[k - 1].name()),
                QJsonValue());
            if (k == 2)
                source.insert(QStringLiteral("tally"), QJsonObject { { QStringLiteral("program"), true } });
            sources << source;
            app.setSetting(QStringLiteral("slots/%1/source").arg(k + 1), QStringLiteral("SRC (%1)").arg(k));
        }
        app.setSources(sources);
        app.setSetting(QStringLiteral("slots/size"), 17); // stored 1-based: slot k is entry k + 1
        app.setSetting(QStringLiteral("gridDimensions"), grid);
        app.setSetting(QStringLiteral("defaultLocation"), TestEnv::makeFolder(QStringLiteral("videos-%1").arg(grid)));
        for (auto [key, value] : QList<std::pair<const char*, int>> {
                 { "x", 0 }, { "y", 0 }, { "width", 1100 }, { "height", 619 }, { "visibility", 2 } })
            app.setSetting(QStringLiteral("windowSettings/") + QLatin1String(key), value);
        return app.start();
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestEnv::hasDisplay())
            QSKIP("no X display: run through CTest, whose fixture starts Xvfb");
    }

    // Grid, then slot 1's cell, slot 2's, the last slot's (unbound), and whether the clock takes the free cell.
    void layoutOnScreen_data()
    {
        QTest::addColumn<QList<QRect>>("cells");
        QTest::addColumn<int>("grid");
        QTest::addColumn<bool>("clock");
        QTest::addRow("3x3") << QList<QRect> { { 0, 0, 367, 207 }, { 367, 0, 367, 207 }, { 734, 413, 366, 206 } } << 33
                             << false;
        QTest::addRow("2+8") << QList<QRect> { { 0, 0, 550, 309 }, { 550, 0, 550, 309 }, { 825, 464, 275, 155 } } << 242
                             << false;
        QTest::addRow("2+14") << QList<QRect> { { 0, 0, 550, 247 }, { 550, 0, 550, 247 }, { 660, 495, 220, 124 } }
                              << 253 << true;
    }
    void layoutOnScreen()
    {
        QFETCH(QList<QRect>, cells);
        QFETCH(int, grid);
        QFETCH(bool, clock);
        const QRect first = cells[0], program = cells[1], unbound = cells[2];
        E2E::AppRun app(QStringLiteral("app-%1").arg(grid));
        const QList<QColor> colours { QColor(40, 90, 220), QColor(30, 200, 60), QColor(220, 200, 40) };
        QVERIFY(start(app, grid, colours));
        // Each bound slot's picture fills its cell; the unbound one shows none.
        QImage shot;
        QTRY_VERIFY_WITH_TIMEOUT((shot = grab(),
                                     near(shot.pixel(first.center()), colours[0].rgb())
                                         && near(shot.pixel(program.center()), colours[1].rgb())),
            40000);
        QVERIFY(near(shot.pixel(first.left() + first.width() / 5, first.bottom() - 40), colours[0].rgb())
            && near(shot.pixel(program.right() - program.width() / 5, program.top() + 40), colours[1].rgb()));
        QVERIFY(qGray(shot.pixel(unbound.center() + QPoint(0, -20))) < 60);
        // The program tally border runs along all four edges of slot 2's cell, and no further.
        const auto red = [&](int x, int y) {
            const QRgb c = shot.pixel(x, y);
            return qRed(c) > 200 && qGreen(c) < 70 && qBlue(c) < 70;
        };
        const QPoint mid = program.center();
        QVERIFY(red(program.left(), mid.y()) && red(program.right(), mid.y()) && red(mid.x(), program.top())
            && red(mid.x(), program.bottom()));
        QVERIFY(!red(program.left() - 3, mid.y()) && !red(mid.x(), program.bottom() + 3));
        // The clock's light grey digits fill the grid's free cell of 2+14.
        int grey = 0;
        for (int y = 520; y < 580; ++y)
            for (int x = 900; x < 1060; ++x) {
                const QRgb c = shot.pixel(x, y);
                grey += qRed(c) > 120 && qAbs(qRed(c) - qGreen(c)) < 12 && qAbs(qGreen(c) - qBlue(c)) < 12;
            }
        QCOMPARE(grey > 100, clock);
    }

    void closeIsRefusedWhileRecording()
    {
        E2E::AppRun app(QStringLiteral("app-close"));
        QVERIFY(start(app, 33, { QColor(40, 90, 220) }));
        E2E::ControlClient control;
        QVERIFY(control.connectTo(app.tcpPort));
        WindowManager display;
        QVERIFY(!xcb_connection_has_error(display.c));
        uint32_t window = 0;
        QTRY_VERIFY_WITH_TIMEOUT((window = display.window()) != 0, 40000);
        QCOMPARE(control.command("<recording_start slot=\"1\"/>"), QByteArray("<succes uid=\"\" />"));
        QTRY_COMPARE_WITH_TIMEOUT(control.recordingState(1), QByteArray("1"), 20000);
        display.requestClose(window);
        // The refusal is a dialog over the grid: a long run of the dark palette's window colour.
        const auto showsDialog = [] {
            const QImage image = grab();
            for (int y = 200, run = 0; y < 420; y += 4, run = 0)
                for (int x = 300; x < 800; ++x)
                    if ((run = image.pixel(x, y) == qRgb(53, 53, 53) ? run + 1 : 0) >= 200)
                        return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(showsDialog(), 10000);
        QVERIFY(app.isRunning() && display.window() == window);
        QCOMPARE(control.command("<recording_stop slot=\"1\"/>"), QByteArray("<succes uid=\"\" />"));
        QTRY_COMPARE_WITH_TIMEOUT(control.recordingState(1), QByteArray("0"), 20000);
        display.requestClose(window);
        QVERIFY(app.process.waitForFinished(30000));
        QCOMPARE(app.process.exitCode(), 0);
    }
};

QTEST_MAIN(TestAppWindow)
#include "tst_appwindow.moc"
