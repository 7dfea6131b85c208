#include "tests/common/apprun.h"
#include "tests/common/simnetwork.h"
#include "tests/common/testenv.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTest>

// The real application on the display, seen from outside: its slots' pictures in their cells (the
// tally border, the clock and the texts are the cell's and the window's tests over stand-in slots).
class TestAppWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestEnv::hasDisplay())
            QSKIP("no X display: run through CTest, whose fixture starts Xvfb");
    }

    // Slot 1's cell, slot 2's and the last slot's (unbound), below the toolbar's band of 44 pixels.
    void layoutOnScreen_data()
    {
        QTest::addColumn<QList<QRect>>("cells");
        QTest::addColumn<int>("grid");
        QTest::addRow("3x3") << QList<QRect> { { 0, 44, 367, 192 }, { 367, 44, 367, 192 }, { 734, 428, 366, 191 } }
                             << 33;
        QTest::addRow("2+14") << QList<QRect> { { 0, 44, 550, 230 }, { 550, 44, 550, 230 }, { 660, 504, 220, 115 } }
                              << 253;
    }
    void layoutOnScreen()
    {
        QFETCH(QList<QRect>, cells);
        QFETCH(int, grid);
        E2E::AppRun app(QStringLiteral("app-%1").arg(grid));
        const QList<QColor> colours { QColor(40, 90, 220), QColor(30, 200, 60) };
        QJsonArray sources;
        for (int k = 1; k <= 2; ++k) {
            const QString name = QStringLiteral("SRC (%1)").arg(k);
            sources << NdiSim::source(name, NdiSim::video(640, 360, "BGRA", "solid", colours[k - 1].name()), {});
            app.setSetting(QStringLiteral("slots/%1/source").arg(k + 1), name); // stored 1-based: slot k is entry k + 1
        }
        app.setSources(sources);
        for (auto [key, value] :
            QList<std::pair<const char*, QVariant>> { { "slots/size", 17 }, { "gridDimensions", grid },
                { "defaultLocation", TestEnv::makeFolder(QStringLiteral("videos-%1").arg(grid)) },
                { "windowSettings/x", 0 }, { "windowSettings/y", 0 }, { "windowSettings/width", 1100 },
                { "windowSettings/height", 619 }, { "windowSettings/visibility", 2 } })
            app.setSetting(QLatin1String(key), value);
        QVERIFY(app.start());
        // Each bound slot's picture fills its cell; the unbound one shows none.
        QImage shot;
        const auto at = [&](QPoint p, QColor c) {
            const QRgb got = shot.pixel(p);
            return std::max({ std::abs(qRed(got) - c.red()), std::abs(qGreen(got) - c.green()),
                       std::abs(qBlue(got) - c.blue()) })
                < 12;
        };
        QTRY_VERIFY_WITH_TIMEOUT((shot = QGuiApplication::primaryScreen()->grabWindow(0, 0, 0, 1100, 619).toImage(),
                                     at(cells[0].center(), colours[0]) && at(cells[1].center(), colours[1])),
            40000);
        QVERIFY(at(cells[0].bottomLeft() + QPoint(cells[0].width() / 5, -70), colours[0]));
        QVERIFY(at(cells[1].topRight() + QPoint(-cells[1].width() / 5, 40), colours[1]));
        QVERIFY(qGray(shot.pixel(cells[2].center() + QPoint(0, -20))) < 60);
    }
};

QTEST_MAIN(TestAppWindow)
#include "tst_appwindow.moc"
