#include "tests/common/testenv.h"
#include "tests/qml/xdisplayclient.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QTest>

#include <csignal>

// The real application on the simulated network's demo sources, looked at from outside: what the
// display shows where the cells, borders, buttons and clock should be.
class TestAppWindow : public QObject
{
    Q_OBJECT

private:
    QProcess m_app;

    static QImage grabDisplay()
    {
        QScreen* screen = QGuiApplication::primaryScreen();
        return screen ? screen->grabWindow(0, 0, 0, 1100, 619).toImage().convertToFormat(QImage::Format_RGB32)
                      : QImage();
    }

    static bool isVideo(const QImage& image, QPoint at) { return !image.isNull() && qGray(image.pixel(at)) > 40; }

    static bool isRed(QRgb c) { return qRed(c) > 200 && qGreen(c) < 70 && qBlue(c) < 70; }

    // Slots 1 to 6 bound to the demo sources in turn; the rest stay unbound. The window opens at
    // the origin from its stored geometry, where the display is grabbed.
    static QString settingsFile(const QProcessEnvironment& env)
    {
        return env.value(QStringLiteral("XDG_CONFIG_HOME")) + QStringLiteral("/Stavelin/Recorder.conf");
    }

    static void seedSettings(const QProcessEnvironment& env, int gridDimensions)
    {
        QSettings store(settingsFile(env), QSettings::IniFormat);
        store.setValue(QStringLiteral("gridDimensions"), gridDimensions);
        const QString videos = env.value(QStringLiteral("HOME")) + QStringLiteral("/Videos");
        QDir().mkpath(videos);
        store.setValue(QStringLiteral("defaultLocation"), videos);
        store.setValue(QStringLiteral("defaultLocationB"), videos);
        const QStringList sources = { QStringLiteral("DEMO (Camera 1)"), QStringLiteral("DEMO (Graphics)"),
            QStringLiteral("DEMO (Wide Shot)"), QStringLiteral("DEMO (Studio 4:3)") };
        store.beginWriteArray(QStringLiteral("slots"));
        for (int slot = 1; slot <= 6; ++slot) {
            store.setArrayIndex(slot);
            store.setValue(QStringLiteral("source"), sources.at((slot - 1) % sources.size()));
        }
        store.setArrayIndex(16);
        store.setValue(QStringLiteral("source"), QStringLiteral("none"));
        store.endArray();
        store.beginGroup(QStringLiteral("windowSettings"));
        store.setValue(QStringLiteral("x"), 0);
        store.setValue(QStringLiteral("y"), 0);
        store.setValue(QStringLiteral("width"), 1100);
        store.setValue(QStringLiteral("height"), 619);
        store.setValue(QStringLiteral("visibility"), 2);
        store.endGroup();
    }

    static void saveArtifact(const QImage& image, const QString& name)
    {
        const QString folder = QStringLiteral(RECORDER_BIN_DIR "/../artifacts");
        QDir().mkpath(folder);
        image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
    }

    void startApp(const QProcessEnvironment& env)
    {
        m_app.setProcessEnvironment(env);
        m_app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_app.setStandardOutputFile(QProcess::nullDevice());
        m_app.start(TestEnv::binDir() + QStringLiteral("/StavelinRecorder"), {});
    }

    // The dialog drawn over the video: a long run of the window colour of the dark palette.
    static bool showsDialog(const QImage& image)
    {
        for (int y = 200; y < 420; y += 4) {
            int run = 0;
            for (int x = 300; x < 800; ++x) {
                run = image.pixel(x, y) == qRgb(53, 53, 53) ? run + 1 : 0;
                if (run >= 200)
                    return true;
            }
        }
        return false;
    }

    static const QString& titlePrefix()
    {
        static const QString prefix = QStringLiteral("Stavelin Recorder v0.9.6.0 GPU: ");
        return prefix;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestEnv::hasDisplay())
            QSKIP("no X display: run through CTest, whose fixture starts Xvfb");
    }

    void cleanup()
    {
        if (m_app.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_app.processId()), SIGTERM);
            if (!m_app.waitForFinished(15000))
                m_app.kill();
            m_app.waitForFinished(5000);
        }
    }

    void layoutOnScreen_data()
    {
        QTest::addColumn<int>("gridDimensions");
        QTest::addColumn<QRect>("graphicsCell"); // slot 2, "DEMO (Graphics)", always on program
        QTest::addColumn<QRect>("firstCell"); // slot 1
        QTest::addColumn<QRect>("unboundCell"); // the last slot, unbound
        QTest::addColumn<bool>("clock");
        QTest::addRow("3x3") << 33 << QRect(367, 0, 367, 207) << QRect(0, 0, 367, 207) << QRect(734, 413, 366, 206)
                             << false;
        QTest::addRow("2+8") << 242 << QRect(550, 0, 550, 309) << QRect(0, 0, 550, 309) << QRect(825, 464, 275, 155)
                             << false;
        QTest::addRow("2+14") << 253 << QRect(550, 0, 550, 247) << QRect(0, 0, 550, 247) << QRect(660, 495, 220, 124)
                              << true;
    }
    void layoutOnScreen()
    {
        QFETCH(int, gridDimensions);
        QFETCH(QRect, graphicsCell);
        QFETCH(QRect, firstCell);
        QFETCH(QRect, unboundCell);
        QFETCH(bool, clock);

        const QProcessEnvironment env = TestEnv::childEnvironment(QStringLiteral("app-%1").arg(gridDimensions));
        seedSettings(env, gridDimensions);
        startApp(env);
        QVERIFY(m_app.waitForStarted());

        // The first cell's picture arrives: the bound slots show video.
        QImage shot;
        QTRY_VERIFY_WITH_TIMEOUT((shot = grabDisplay(), isVideo(shot, firstCell.center())), 40000);
        QTest::qWait(1000); // a few more frames, so every bound slot has drawn
        shot = grabDisplay();
        saveArtifact(shot,
            QStringLiteral("app-%1").arg(
                QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char('+'), QLatin1String("plus"))));

        // The program tally border runs along all four edges of the graphics cell.
        const int midY = graphicsCell.center().y();
        const int midX = graphicsCell.center().x();
        QVERIFY2(isRed(shot.pixel(graphicsCell.left(), midY)), "left border");
        QVERIFY2(isRed(shot.pixel(graphicsCell.right(), midY)), "right border");
        QVERIFY2(isRed(shot.pixel(midX, graphicsCell.top())), "top border");
        QVERIFY2(isRed(shot.pixel(midX, graphicsCell.bottom())), "bottom border");

        // Record buttons: full red on a bound slot, dimmed on an unbound one.
        const auto recordDot = [](const QRect& cell) { return QPoint(cell.right() - 5 - 16, cell.bottom() - 2 - 17); };
        const QRgb bound = shot.pixel(recordDot(graphicsCell));
        const QRgb unbound = shot.pixel(recordDot(unboundCell));
        QVERIFY2(qRed(bound) > 150 && qGreen(bound) < 90, qPrintable(QColor(bound).name()));
        QVERIFY2(qRed(unbound) > qGreen(unbound) + 15 && qRed(unbound) < 120, qPrintable(QColor(unbound).name()));

        // An unbound cell shows no video.
        QVERIFY(!isVideo(shot, unboundCell.center() + QPoint(0, -20)));

        // The clock fills the grid's free cell of the 2+14 layout: light grey digits there.
        const QRect clockArea(900, 520, 160, 60);
        int greyPixels = 0;
        for (int y = clockArea.top(); y <= clockArea.bottom(); ++y)
            for (int x = clockArea.left(); x <= clockArea.right(); ++x) {
                const QRgb c = shot.pixel(x, y);
                if (qRed(c) > 120 && qAbs(qRed(c) - qGreen(c)) < 12 && qAbs(qGreen(c) - qBlue(c)) < 12)
                    ++greyPixels;
            }
        QCOMPARE(greyPixels > 100, clock);
    }

    void closeIsRefusedWhileRecording()
    {
        const QProcessEnvironment env = TestEnv::childEnvironment(QStringLiteral("app-close"));
        seedSettings(env, 33);
        startApp(env);
        QVERIFY(m_app.waitForStarted());

        XDisplayClient display;
        QVERIFY(display.isConnected());
        uint32_t window = 0;
        QString title;
        QTRY_VERIFY_WITH_TIMEOUT((window = display.findWindow(titlePrefix(), &title)) != 0, 40000);
        // The title names the renderer once the first frame is drawn.
        QTRY_VERIFY_WITH_TIMEOUT(
            (display.findWindow(titlePrefix(), &title), title.size() > titlePrefix().size()), 20000);

        // Slot 1's record button; recording is confirmed when it turns to its stop square.
        const QPoint recordCentre(367 - 5 - 17, 207 - 2 - 18);
        QTRY_VERIFY_WITH_TIMEOUT(qRed(grabDisplay().pixel(recordCentre)) > 150, 20000);
        display.click(window, recordCentre);
        QTRY_VERIFY_WITH_TIMEOUT(qGray(grabDisplay().pixel(recordCentre)) > 200, 20000);

        display.requestClose(window);
        QTRY_VERIFY_WITH_TIMEOUT(showsDialog(grabDisplay()), 10000);
        saveArtifact(grabDisplay(), QStringLiteral("app-close-refused"));
        QCOMPARE(m_app.state(), QProcess::Running);
        QVERIFY(display.isMapped(window));

        display.click(window, recordCentre);
        QTRY_VERIFY_WITH_TIMEOUT(qGray(grabDisplay().pixel(recordCentre)) < 150, 20000);
        display.requestClose(window);
        QVERIFY(m_app.waitForFinished(30000));
        QCOMPARE(m_app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_app.exitCode(), 0);
    }

    void geometryPersistsAcrossRestart()
    {
        const QProcessEnvironment env = TestEnv::childEnvironment(QStringLiteral("app-geometry"));
        seedSettings(env, 33);
        XDisplayClient display;
        QVERIFY(display.isConnected());
        const QRect moved(40, 30, 1180, 660);

        for (int run = 0; run < 2; ++run) {
            startApp(env);
            QVERIFY(m_app.waitForStarted());
            uint32_t window = 0;
            QTRY_VERIFY_WITH_TIMEOUT((window = display.findWindow(titlePrefix())) != 0, 40000);
            if (run == 0) {
                QCOMPARE(display.geometry(window), QRect(0, 0, 1100, 619));
                display.setGeometry(window, moved); // as a user dragging and resizing it would
            }
            QTRY_COMPARE_WITH_TIMEOUT(display.geometry(window), moved, 10000);
            display.requestClose(window);
            QVERIFY(m_app.waitForFinished(30000));
            QCOMPARE(m_app.exitCode(), 0);

            QSettings store(settingsFile(env), QSettings::IniFormat);
            QCOMPARE(store.value(QStringLiteral("windowSettings/x")).toInt(), moved.x());
            QCOMPARE(store.value(QStringLiteral("windowSettings/y")).toInt(), moved.y());
            QCOMPARE(store.value(QStringLiteral("windowSettings/width")).toInt(), moved.width());
            QCOMPARE(store.value(QStringLiteral("windowSettings/height")).toInt(), moved.height());
            QCOMPARE(store.value(QStringLiteral("windowSettings/visibility")).toInt(), 2);
        }
    }

    // The full-screen button of the toolbar over the dark right edge of slot 3's picture: its
    // corner arrows are white, its middle is not.
    static bool showsToolbar(const QImage& image)
    {
        const auto anyWhite = [&](const QRect& area) {
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    if (qGray(image.pixel(x, y)) > 220)
                        return true;
            return false;
        };
        return anyWhite(QRect(1069, 8, 7, 7)) && anyWhite(QRect(1085, 23, 7, 7)) && !anyWhite(QRect(1078, 16, 4, 4));
    }

    void toolbarHidesWhenIdle()
    {
        const QProcessEnvironment env = TestEnv::childEnvironment(QStringLiteral("app-idle"));
        seedSettings(env, 33);
        startApp(env);
        QVERIFY(m_app.waitForStarted());
        XDisplayClient display;
        QVERIFY(display.isConnected());
        uint32_t window = 0;
        QTRY_VERIFY_WITH_TIMEOUT((window = display.findWindow(titlePrefix())) != 0, 40000);
        QTRY_VERIFY_WITH_TIMEOUT(isVideo(grabDisplay(), QPoint(183, 103)), 40000);

        display.moveTo(window, QPoint(500, 300));
        QTRY_VERIFY_WITH_TIMEOUT(showsToolbar(grabDisplay()), 10000);
        // Five seconds without movement hide it, although the meters and pictures keep changing.
        QTRY_VERIFY_WITH_TIMEOUT(!showsToolbar(grabDisplay()), 12000);
        saveArtifact(grabDisplay(), QStringLiteral("app-idle"));
        display.moveTo(window, QPoint(520, 310));
        QTRY_VERIFY_WITH_TIMEOUT(showsToolbar(grabDisplay()), 10000);
    }

    void dialogsOpenFromCellAndToolbar_data()
    {
        QTest::addColumn<QPoint>("button");
        QTest::addRow("slot settings") << QPoint(367 - 5 - 17, 207 - 83 - 18);
        QTest::addRow("global settings") << QPoint(1100 - 150 - 17, 2 + 18);
    }
    void dialogsOpenFromCellAndToolbar()
    {
        QFETCH(QPoint, button);
        const QProcessEnvironment env = TestEnv::childEnvironment(QStringLiteral("app-dialog-%1").arg(button.x()));
        seedSettings(env, 33);
        startApp(env);
        QVERIFY(m_app.waitForStarted());
        XDisplayClient display;
        QVERIFY(display.isConnected());
        uint32_t window = 0;
        QTRY_VERIFY_WITH_TIMEOUT((window = display.findWindow(titlePrefix())) != 0, 40000);
        QTRY_VERIFY_WITH_TIMEOUT(isVideo(grabDisplay(), QPoint(183, 103)), 40000);
        QVERIFY(!showsDialog(grabDisplay()));

        display.moveTo(window, button);
        display.click(window, button);
        QTRY_VERIFY_WITH_TIMEOUT(showsDialog(grabDisplay()), 10000);
        QTest::qWait(300); // the picture for a person to look at: let the dialog finish drawing
        saveArtifact(grabDisplay(),
            QStringLiteral("app-%1").arg(
                QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'))));
    }
};

QTEST_MAIN(TestAppWindow)

#include "tst_appwindow.moc"
