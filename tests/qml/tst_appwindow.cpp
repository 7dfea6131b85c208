#include "tests/common/apprun.h"
#include "tests/common/simnetwork.h"
#include "tests/common/testenv.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTest>

// The real application on the display, seen from outside: its cells and pictures where they belong.
class TestAppWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestEnv::hasDisplay())
            QSKIP("no X display: run through CTest, whose fixture starts Xvfb");
    }

    // Slot 1's cell, slot 2's (on program), the last slot's (unbound), and whether the clock takes the free cell.
    void layoutOnScreen_data()
    {
        QTest::addColumn<QList<QRect>>("cells");
        QTest::addColumn<int>("grid");
        QTest::addColumn<bool>("clock");
        // Below the toolbar's band of 44 pixels.
        QTest::addRow("3x3") << QList<QRect> { { 0, 44, 367, 192 }, { 367, 44, 367, 192 }, { 734, 428, 366, 191 } }
                             << 33 << false;
        QTest::addRow("2+14") << QList<QRect> { { 0, 44, 550, 230 }, { 550, 44, 550, 230 }, { 660, 504, 220, 115 } }
                              << 253 << true;
    }
    void layoutOnScreen()
    {
        QFETCH(QList<QRect>, cells);
        QFETCH(int, grid);
        QFETCH(bool, clock);
        E2E::AppRun app(QStringLiteral("app-%1").arg(grid));
        const QList<QColor> colours { QColor(40, 90, 220), QColor(30, 200, 60) };
        QJsonArray sources;
        for (int k = 1; k <= 2; ++k) {
            const QString name = QStringLiteral("SRC (%1)").arg(k);
            QJsonObject source
                = NdiSim::source(name, NdiSim::video(640, 360, "BGRA", "solid", colours[k - 1].name()), {});
            if (k == 2)
                source.insert(QStringLiteral("tally"), QJsonObject { { QStringLiteral("program"), true } });
            sources << source;
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
        // The program tally border runs along all four edges of slot 2's cell, and no further.
        const QRect p = cells[1];
        for (auto [x, y, edge] :
            QList<std::tuple<int, int, bool>> { { p.left(), p.center().y(), true }, { p.right(), p.center().y(), true },
                { p.center().x(), p.top(), true }, { p.center().x(), p.bottom(), true },
                { p.left() - 3, p.center().y(), false }, { p.center().x(), p.bottom() + 3, false } }) {
            const QRgb c = shot.pixel(x, y);
            QCOMPARE(qRed(c) > 200 && qGreen(c) < 70 && qBlue(c) < 70, edge);
        }
        // The clock's light grey digits fill the grid's free cell of 2+14.
        int grey = 0;
        for (int y = 520; y < 580; ++y)
            for (int x = 900; x < 1060; ++x) {
                const QRgb c = shot.pixel(x, y);
                grey += qRed(c) > 120 && qAbs(qRed(c) - qGreen(c)) < 12 && qAbs(qGreen(c) - qBlue(c)) < 12;
            }
        QCOMPARE(grey > 100, clock);
    }
};

QTEST_MAIN(TestAppWindow)
#include "tst_appwindow.moc"
