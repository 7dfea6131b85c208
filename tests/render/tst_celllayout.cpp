#include "app/settingsmodel.h"
#include "render/celllayout.h"

#include <QFile>
#include <QJSEngine>
#include <QRect>
#include <QSize>
#include <QTest>

#include <cmath>

// The window's cells (qml/gridmath.js) and the preview's quads (CellLayout) must meet to the pixel.
class TestCellLayout : public QObject
{
    Q_OBJECT
    QJSEngine m_js;
    int js(const char* call, QList<double> args)
    {
        QJSValueList values;
        for (double a : args)
            values << QJSValue(a);
        return m_js.globalObject().property(QLatin1String(call)).call(values).toInt();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QFile file(QStringLiteral(":/gridmath.js"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!m_js.evaluate(QString::fromUtf8(file.readAll()).remove(QStringLiteral(".pragma library"))).isError());
    }

    // Grid code, window, and the first and last grid cells in pixels.
    void cellsMatchQuads()
    {
        const QList<std::tuple<int, QSize, QRect, QRect>> table { { 33, { 1100, 619 }, { 0, 0, 367, 207 },
                                                                      { 734, 413, 366, 206 } },
            { 44, { 1100, 619 }, { 0, 0, 275, 155 }, { 825, 465, 275, 154 } },
            { 32, { 1102, 621 }, { 0, 0, 368, 311 }, { 735, 311, 367, 310 } },
            { 242, { 1100, 619 }, { 0, 309, 275, 155 }, { 825, 464, 275, 155 } },
            { 253, { 1100, 619 }, { 0, 247, 220, 124 }, { 880, 495, 220, 124 } },
            { 253, { 1104, 619 }, { 0, 247, 221, 124 }, { 884, 495, 220, 124 } },
            { 22, { 3, 1 }, { 0, 0, 2, 1 }, { 2, 1, 1, 0 } } };
        for (auto [code, window, first, last] : table) {
            const SettingsModel::GridShape shape = SettingsModel::gridShapeFor(code);
            const double W = window.width(), H = window.height(), cols = shape.width, rows = shape.height;
            const CellLayout layout(shape.width, shape.height, shape.extra);
            QCOMPARE(int(layout.quads().size()), shape.extra + shape.width * shape.height);
            const int top = js("extraHeight", { H, double(shape.extra), rows });
            QCOMPARE(top, int(std::floor(H * (1 - layout.gridHeightFraction()) + 1e-3)));
            const auto pixels = [&](size_t i) {
                const CellLayout::Quad& q = layout.quads().at(i);
                return QRectF((q.left() + 1) / 2 * W, (1 - q.top()) / 2 * H, (q.right() - q.left()) / 2 * W,
                    (q.top() - q.bottom()) / 2 * H);
            };
            QList<QRect> cells;
            for (int k = 0, y = top; k < cols * rows; ++k) {
                const int x = k % shape.width ? cells.last().x() + cells.last().width() : 0;
                y += k && !(k % shape.width) ? cells.last().height() : 0;
                cells << QRect(x, y, js("cellWidth", { double(k), W, cols }),
                    js("cellHeight", { double(k), H - top, cols, rows }));
                const QRectF a = cells.last(), b = pixels(size_t(shape.extra + k));
                QVERIFY2(std::abs(a.left() - b.left()) < 1 && std::abs(a.right() - b.right()) < 1
                        && std::abs(a.top() - b.top()) < 1 && std::abs(a.bottom() - b.bottom()) < 1,
                    qPrintable(QStringLiteral("%1 cell %2").arg(code).arg(k)));
                QVERIFY(std::abs(a.width() - cells.first().width()) <= 1
                    && std::abs(a.height() - cells.first().height()) <= 1);
            }
            QCOMPARE(cells.first(), first);
            QCOMPARE(cells.last(), last);
            QCOMPARE(QPoint(last.x() + last.width(), last.y() + last.height()), QPoint(W, H)); // no gap, no overlap
            // Two extra cells side by side above; the preview centres each picture in its cell.
            for (int e = 0; e < shape.extra; ++e) {
                const QRectF cell(e ? js("extraCell2X", { W }) : 0, 0, js("extraCellWidth", { W }), top),
                    quad = pixels(size_t(e));
                QVERIFY(std::abs(cell.center().x() - quad.center().x()) < 1 && std::abs(quad.top()) < 1);
                QVERIFY(std::abs(quad.bottom() - top) < 1
                    && (rows == 3 ? quad.width() < cell.width() : std::abs(quad.width() - cell.width()) < 1));
            }
            // Every quad has the one cell shape cellAspect reports, and starts with the whole frame.
            for (size_t i = 0; i < layout.quads().size(); ++i) {
                const CellLayout::Quad& q = layout.quads().at(i);
                QVERIFY(
                    H < 10 || std::abs(pixels(i).width() / pixels(i).height() / layout.cellAspect(W, H) - 1) < 1e-3);
                QCOMPARE(QList<float>({ q.s(0), q.t(0), q.s(2), q.t(2) }), QList<float>({ 0, 0, 1, 1 }));
            }
        }
    }

    void evenCeil()
    {
        for (auto [in, out] :
            QList<std::pair<double, int>> { { 400, 400 }, { 401, 402 }, { 400.2, 402 }, { 399.5, 400 } })
            QCOMPARE(js("evenCeil", { in }), out);
        QCOMPARE(js("centred", { 1100, 401 }), 349);
    }

    void degenerateShapes()
    {
        for (auto [columns, rows, count] :
            QList<std::tuple<int, int, int>> { { 0, 2, 2 }, { 3, -4, 3 }, { 0, 0, 1 } }) {
            const CellLayout layout(columns, rows, 0);
            QCOMPARE(int(layout.quads().size()), count);
            QVERIFY(std::isfinite(layout.cellAspect(800, 600)));
            QCOMPARE(layout.quads().front().left(), -1.0f);
            QCOMPARE(layout.quads().back().right(), 1.0f);
        }
    }

    // Frame size, its shown aspect (0: none), the cell in pixels, the step.
    void reductionStep()
    {
        const float wide = 16.0f / 9, tv = 4.0f / 3;
        const QList<std::tuple<QSize, float, QSizeF, int>> rows { { { 1920, 1080 }, wide, { 480, 270 }, 4 },
            { { 1920, 1080 }, wide, { 481, 271 }, 3 }, { { 640, 360 }, wide, { 960, 540 }, 1 },
            { { 1920, 1080 }, wide, { 400, 300 }, 4 }, { { 1440, 1080 }, tv, { 320, 180 }, 6 },
            { { 1920, 1080 }, tv, { 240, 180 }, 6 }, // anamorphic: the denser way (rows) decides
            { { 1920, 1080 }, wide, { 0, 0 }, 1 }, { { 1920, 1080 }, 0, { 480, 270 }, 4 } };
        for (auto [frame, aspect, cell, step] : rows)
            QCOMPARE(CellLayout::reductionStep(
                         frame.width(), frame.height(), aspect, float(cell.width()), float(cell.height())),
                step);
    }

    // Frame aspect, cell aspect, and the texture's s and t at the top-left and bottom-right corners.
    void aspectFit()
    {
        const float wide = 16.0f / 9, tv = 4.0f / 3;
        const QList<std::tuple<float, float, QRectF>> rows { { wide, tv, { 0, -1.0 / 6, 1, tv } },
            { tv, wide, { -1.0 / 6, 0, tv, 1 } }, { wide, wide, { 0, 0, 1, 1 } }, { 1, 0.5f, { 0, -0.5, 1, 2 } },
            { 0, 1.5f, { 0, 0, 1, 1 } } };
        const CellLayout::Quad cell = CellLayout::Quad::fromRect(-0.5f, 0.5f, 0.25f, -0.75f);
        for (auto [frameAspect, cellAspect, texture] : rows) {
            const CellLayout::Quad fit = CellLayout::aspectFit(cell, frameAspect, cellAspect);
            for (int v = 0; v < 4; ++v) {
                QCOMPARE(QPointF(fit.x(v), fit.y(v)), QPointF(cell.x(v), cell.y(v)));
                QVERIFY(std::abs(fit.s(v) - (v == 1 || v == 2 ? texture.right() : texture.left())) < 1e-5);
                QVERIFY(std::abs(fit.t(v) - (v >= 2 ? texture.bottom() : texture.top())) < 1e-5);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestCellLayout)
#include "tst_celllayout.moc"
