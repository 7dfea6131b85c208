#include "app/settingsmodel.h"
#include "render/celllayout.h"
#include "render/levelmeter.h"

#include <QFile>
#include <QJSEngine>
#include <QTest>

using Levels = QList<std::pair<qint64, int>>; // at ms, left level

// The preview's and the meter's decisions without a window: the window's cells (qml/gridmath.js) and
// the preview's quads (CellLayout) meet to the pixel; the meter, on a clock the test moves, holds its
// peaks, lights its clip light and spaces its marks.
class TestRenderRules : public QObject
{
    Q_OBJECT
    QJSEngine m_js;
    int js(const char* call, QList<double> args)
    {
        QJSValueList values(args.begin(), args.end());
        return m_js.globalObject().property(QLatin1String(call)).call(values).toInt();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QFile file(QStringLiteral(":/qt-project.org/imports/StavelinRecorder/gridmath.js"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!m_js.evaluate(QString::fromUtf8(file.readAll()).remove(QStringLiteral(".pragma library"))).isError());
        for (auto [in, out] :
            QList<std::pair<double, int>> { { 400, 400 }, { 401, 402 }, { 400.2, 402 }, { 399.5, 400 } })
            QCOMPARE(js("evenCeil", { in }), out);
    }

    // Grid code, window, and the first and last grid cells in pixels.
    void cellsMatchQuads()
    {
        const auto near = [](QRectF a, QRectF b) {
            const QPointF d = a.topLeft() - b.topLeft(), e = a.bottomRight() - b.bottomRight();
            return std::max({ std::abs(d.x()), std::abs(d.y()), std::abs(e.x()), std::abs(e.y()) }) < 1;
        };
        for (auto [code, window, first, last] : QList<std::tuple<int, QSize, QRect, QRect>> {
                 { 33, { 1100, 619 }, { 0, 0, 367, 207 }, { 734, 413, 366, 206 } },
                 { 32, { 1102, 621 }, { 0, 0, 368, 311 }, { 735, 311, 367, 310 } },
                 { 242, { 1100, 619 }, { 0, 309, 275, 155 }, { 825, 464, 275, 155 } },
                 { 253, { 1104, 619 }, { 0, 247, 221, 124 }, { 884, 495, 220, 124 } },
                 { 22, { 3, 1 }, { 0, 0, 2, 1 }, { 2, 1, 1, 0 } } }) {
            const SettingsModel::GridShape shape = SettingsModel::gridShapeFor(code);
            const double W = window.width(), H = window.height(), cols = shape.width, rows = shape.height;
            const CellLayout layout(shape.width, shape.height, shape.extra);
            QCOMPARE(int(layout.quads().size()), shape.extra + shape.width * shape.height);
            const int top = js("extraHeight", { H, double(shape.extra), rows });
            QCOMPARE(top, int(std::floor(H * (1 - layout.gridHeightFraction()) + 1e-3)));
            const auto px = [&](size_t i) {
                const CellLayout::Quad& q = layout.quads().at(i);
                return QRectF(QPointF((q.left() + 1) * W, (1 - q.top()) * H) / 2,
                    QPointF((q.right() + 1) * W, (1 - q.bottom()) * H) / 2);
            };
            QList<QRect> cells;
            for (int k = 0, y = top; k < cols * rows; ++k) {
                const int x = k % shape.width ? cells.last().x() + cells.last().width() : 0;
                y += k && !(k % shape.width) ? cells.last().height() : 0;
                cells << QRect(x, y, js("cellWidth", { double(k), W, cols }),
                    js("cellHeight", { double(k), H - top, cols, rows }));
                QVERIFY(near(cells.last(), px(size_t(shape.extra + k))));
                QVERIFY(std::abs(cells.last().width() - cells.first().width()) <= 1);
                QVERIFY(std::abs(cells.last().height() - cells.first().height()) <= 1);
            }
            QCOMPARE(QList<QRect>({ cells.first(), cells.last() }), QList<QRect>({ first, last }));
            QCOMPARE(last.bottomRight() + QPoint(1, 1), QPoint(W, H)); // no gap, no overlap
            // Two extra cells side by side above; the preview centres each picture in its cell.
            for (int e = 0; e < shape.extra; ++e) {
                const QRectF cell(e ? js("extraCell2X", { W }) : 0, 0, js("extraCellWidth", { W }), top),
                    quad = px(size_t(e));
                QVERIFY(near(QRectF(cell.center().x() - quad.width() / 2, 0, quad.width(), top), quad));
                QCOMPARE(rows == 3, quad.width() < cell.width() - 1);
            }
            // Every quad has the one cell shape cellAspect reports, and starts with the whole frame.
            for (size_t i = 0; i < layout.quads().size(); ++i) {
                const CellLayout::Quad& q = layout.quads().at(i);
                QVERIFY(H < 10 || std::abs(px(i).width() / px(i).height() / layout.cellAspect(W, H) - 1) < 1e-3);
                QCOMPARE(QList<float>({ q.s(0), q.t(0), q.s(2), q.t(2) }), QList<float>({ 0, 0, 1, 1 }));
            }
        }
    }

    // Frame size, its shown aspect (0: none), the cell in pixels, the step.
    void reductionStep()
    {
        const float wide = 16.0f / 9, tv = 4.0f / 3;
        for (auto [w, h, aspect, cw, ch, step] : QList<std::tuple<int, int, float, float, float, int>> {
                 { 1920, 1080, wide, 480, 270, 4 }, { 1920, 1080, wide, 481, 271, 3 }, { 640, 360, wide, 960, 540, 1 },
                 { 1440, 1080, tv, 320, 180, 6 }, { 1920, 1080, tv, 240, 180, 6 }, // anamorphic: the rows decide
                 { 1920, 1080, 0, 480, 270, 4 }, { 1920, 1080, wide, 0, 0, 1 } })
            QCOMPARE(CellLayout::reductionStep(w, h, aspect, cw, ch), step);
    }

    void peakAndClip_data()
    {
        QTest::addColumn<Levels>("levels");
        QTest::addColumn<qint64>("lookAt");
        QTest::addColumn<int>("peak");
        QTest::addColumn<bool>("clipped");
        QTest::addRow("peak held") << Levels { { 0, 60 }, { 100, 20 } } << qint64(1000) << 60 << false;
        QTest::addRow("peak falls after 1.5 s") << Levels { { 0, 60 }, { 100, 20 } } << qint64(1500) << 20 << false;
        QTest::addRow("higher level takes over") << Levels { { 0, 40 }, { 100, 50 } } << qint64(200) << 50 << false;
        QTest::addRow("just below full scale") << Levels { { 0, 74 } } << qint64(0) << 74 << false;
        QTest::addRow("clip lit") << Levels { { 0, 75 }, { 100, 10 } } << qint64(2999) << 10 << true;
        QTest::addRow("clip out after 3 s") << Levels { { 0, 75 }, { 100, 10 } } << qint64(3000) << 10 << false;
    }
    void peakAndClip()
    {
        QFETCH(Levels, levels);
        QFETCH(qint64, lookAt);
        qint64 now = 0;
        LevelMeter meter([&now] { return now; });
        for (const auto& [at, level] : levels)
            now = at, meter.setLeftLevel(level);
        now = lookAt;
        meter.refresh();
        QTEST(meter.leftPeak(), "peak");
        QTEST(meter.clipped(), "clipped");
        QCOMPARE(meter.rightPeak(), 0);
    }

    // Marks sit at their dBFS height; a short meter drops labels rather than let them touch.
    void marks_data()
    {
        QTest::addColumn<double>("height");
        QTest::addColumn<QStringList>("labels");
        QTest::addRow("tall") << 400.0 << QStringList { "+12", "+6", "0", "-6", "-12", "-20", "-30", "-40", "-50" };
        QTest::addRow("short") << 120.0 << QStringList { "+12", "0", "-12", "-20", "-30", "-40", "-50" };
    }
    void marks()
    {
        QFETCH(double, height);
        QStringList labels;
        double zero = -1;
        for (const QVariant& mark : LevelMeter().marks(height, 12.0)) {
            labels << mark.toMap().value(QStringLiteral("label")).toString();
            if (labels.last() == QStringLiteral("0"))
                zero = mark.toMap().value(QStringLiteral("fraction")).toDouble();
        }
        QTEST(labels, "labels");
        QCOMPARE(zero, LevelMeter::fullScaleFraction());
    }
};

QTEST_GUILESS_MAIN(TestRenderRules)
#include "tst_renderrules.moc"
