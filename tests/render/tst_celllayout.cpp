#include "app/settingsmodel.h"
#include "render/celllayout.h"

#include <QRectF>
#include <QSize>
#include <QTest>

#include <cmath>

Q_DECLARE_METATYPE(QList<QRectF>)

namespace
{

// NDC rectangle of a quad as (left, top, width, height) with y growing upwards.
QRectF rectOf(const CellLayout::Quad& q)
{
    return QRectF(q.left(), q.top(), q.right() - q.left(), q.top() - q.bottom());
}

bool fuzzyRect(const QRectF& a, const QRectF& b)
{
    const double e = 1e-5;
    return std::abs(a.left() - b.left()) < e && std::abs(a.top() - b.top()) < e && std::abs(a.width() - b.width()) < e
        && std::abs(a.height() - b.height()) < e;
}

QString describe(const QRectF& r)
{
    return QStringLiteral("x %1..%2 y %3..%4")
        .arg(r.left())
        .arg(r.left() + r.width())
        .arg(r.top() - r.height())
        .arg(r.top());
}

} // namespace

class TestCellLayout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void gridCodes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("quadCount");
        QTest::addColumn<float>("fraction");
        // Expected NDC rectangles (left, top, width, height) of the quads named by checkedQuads.
        QTest::addColumn<QList<int>>("checkedQuads");
        QTest::addColumn<QList<QRectF>>("rects");

        QTest::addRow("22: 2 x 2") << 22 << 4 << 1.0f << QList<int> { 0, 3 }
                                   << QList<QRectF> { { -1, 1, 1, 1 }, { 0, 0, 1, 1 } };
        QTest::addRow("32: 3 x 2") << 32 << 6 << 1.0f << QList<int> { 0, 1, 5 }
                                   << QList<QRectF> { { -1, 1, 2.0 / 3, 1 }, { -1 + 2.0 / 3, 1, 2.0 / 3, 1 },
                                          { 1 - 2.0 / 3, 0, 2.0 / 3, 1 } };
        QTest::addRow("33: 3 x 3") << 33 << 9 << 1.0f << QList<int> { 0, 4, 8 }
                                   << QList<QRectF> { { -1, 1, 2.0 / 3, 2.0 / 3 },
                                          { -1.0 / 3, 1.0 / 3, 2.0 / 3, 2.0 / 3 },
                                          { 1.0 / 3, -1.0 / 3, 2.0 / 3, 2.0 / 3 } };
        QTest::addRow("43: 4 x 3") << 43 << 12 << 1.0f << QList<int> { 3, 4, 11 }
                                   << QList<QRectF> { { 0.5, 1, 0.5, 2.0 / 3 }, { -1, 1.0 / 3, 0.5, 2.0 / 3 },
                                          { 0.5, -1.0 / 3, 0.5, 2.0 / 3 } };
        QTest::addRow("44: 4 x 4") << 44 << 16 << 1.0f << QList<int> { 0, 5, 15 }
                                   << QList<QRectF> { { -1, 1, 0.5, 0.5 }, { -0.5, 0.5, 0.5, 0.5 },
                                          { 0.5, -0.5, 0.5, 0.5 } };
        QTest::addRow("242: two halves above a 4 x 2 grid")
            << 242 << 10 << 0.5f << QList<int> { 0, 1, 2, 5, 9 }
            << QList<QRectF> { { -1, 1, 1, 1 }, { 0, 1, 1, 1 }, { -1, 0, 0.5, 0.5 }, { 0.5, 0, 0.5, 0.5 },
                   { 0.5, -0.5, 0.5, 0.5 } };
        QTest::addRow("253: two centred pictures above a 5 x 3 grid")
            << 253 << 17 << 0.6f << QList<int> { 0, 1, 2, 6, 16 }
            << QList<QRectF> { { -0.9, 1, 0.8, 0.8 }, { 0.1, 1, 0.8, 0.8 }, { -1, 0.2, 0.4, 0.4 },
                   { 0.6, 0.2, 0.4, 0.4 }, { 0.6, -0.6, 0.4, 0.4 } };
    }

    void gridCodes()
    {
        QFETCH(int, code);
        QFETCH(int, quadCount);
        QFETCH(float, fraction);
        QFETCH(QList<int>, checkedQuads);
        QFETCH(QList<QRectF>, rects);

        const SettingsModel::GridShape shape = SettingsModel::gridShapeFor(code);
        const CellLayout layout(shape.width, shape.height, shape.extra);
        QCOMPARE(int(layout.quads().size()), quadCount);
        QCOMPARE(layout.gridHeightFraction(), fraction);
        for (int k = 0; k < checkedQuads.size(); ++k) {
            const QRectF actual = rectOf(layout.quads().at(checkedQuads.at(k)));
            QVERIFY2(fuzzyRect(actual, rects.at(k)),
                qPrintable(QStringLiteral("quad %1 is %2, expected %3")
                               .arg(checkedQuads.at(k))
                               .arg(describe(actual), describe(rects.at(k)))));
        }

        // Every cell, the special ones included, has the same shape in pixels, and that shape is
        // what cellAspect reports; the texture coordinates start as the whole frame.
        for (const QSize viewport : { QSize(1920, 1080), QSize(1024, 768), QSize(333, 1000) }) {
            const float expected = layout.cellAspect(viewport.width(), viewport.height());
            for (const CellLayout::Quad& q : layout.quads()) {
                const double pixelWidth = (q.right() - q.left()) / 2.0 * viewport.width();
                const double pixelHeight = (q.top() - q.bottom()) / 2.0 * viewport.height();
                QVERIFY(std::abs(pixelWidth / pixelHeight - expected) < 1e-3 * expected);
                QCOMPARE(q.s(CellLayout::TopLeft), 0.0f);
                QCOMPARE(q.t(CellLayout::TopLeft), 0.0f);
                QCOMPARE(q.s(CellLayout::BottomRight), 1.0f);
                QCOMPARE(q.t(CellLayout::BottomRight), 1.0f);
            }
        }
    }

    void degenerateShapes_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("quadCount");
        QTest::addRow("zero columns count as one") << 0 << 2 << 2;
        QTest::addRow("negative rows count as one") << 3 << -4 << 3;
        QTest::addRow("both zero") << 0 << 0 << 1;
    }

    void degenerateShapes()
    {
        QFETCH(int, columns);
        QFETCH(int, rows);
        QFETCH(int, quadCount);
        const CellLayout layout(columns, rows, 0);
        QCOMPARE(int(layout.quads().size()), quadCount);
        QVERIFY(std::isfinite(layout.cellAspect(800, 600)));
        QCOMPARE(layout.quads().front().left(), -1.0f);
        QCOMPARE(layout.quads().back().right(), 1.0f);
    }

    void reductionStep_data()
    {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<float>("frameAspect");
        QTest::addColumn<QSizeF>("cell");
        QTest::addColumn<int>("step");
        QTest::addRow("1080p in a 4x4 cell of 1080p") << QSize(1920, 1080) << 16.0f / 9 << QSizeF(480, 270) << 4;
        QTest::addRow("just short of the next step") << QSize(1920, 1080) << 16.0f / 9 << QSizeF(481, 271) << 3;
        QTest::addRow("smaller than the cell") << QSize(640, 360) << 16.0f / 9 << QSizeF(960, 540) << 1;
        QTest::addRow("as large as the cell") << QSize(960, 540) << 16.0f / 9 << QSizeF(960, 540) << 1;
        // 16:9 in a 4:3 cell fills the width: 400 pixels wide, so 1920 / 400.
        QTest::addRow("width decides in a tall cell") << QSize(1920, 1080) << 16.0f / 9 << QSizeF(400, 300) << 4;
        // 4:3 in a 16:9 cell fills the height: 180 of 1080.
        QTest::addRow("height decides in a wide cell") << QSize(1440, 1080) << 4.0f / 3 << QSizeF(320, 180) << 6;
        // Anamorphic 1920 x 1080 shown 4:3 in a 240 x 180 cell: 240 wide from 1920 pixels, 180 high
        // from 1080 rows; the denser way (rows) decides.
        QTest::addRow("anamorphic keeps the rows it needs") << QSize(1920, 1080) << 4.0f / 3 << QSizeF(240, 180) << 6;
        QTest::addRow("no cell") << QSize(1920, 1080) << 16.0f / 9 << QSizeF(0, 0) << 1;
        QTest::addRow("no aspect uses the pixels") << QSize(1920, 1080) << 0.0f << QSizeF(480, 270) << 4;
    }

    void reductionStep()
    {
        QFETCH(QSize, frame);
        QFETCH(float, frameAspect);
        QFETCH(QSizeF, cell);
        QFETCH(int, step);
        QCOMPARE(CellLayout::reductionStep(
                     frame.width(), frame.height(), frameAspect, float(cell.width()), float(cell.height())),
            step);
    }

    void aspectFit_data()
    {
        QTest::addColumn<float>("frameAspect");
        QTest::addColumn<float>("cellAspect");
        QTest::addColumn<float>("sLeft");
        QTest::addColumn<float>("sRight");
        QTest::addColumn<float>("tTop");
        QTest::addColumn<float>("tBottom");

        // 16:9 in 4:3: m = 4/3, the picture fills the width and leaves 1/8 of the height above
        // and below.
        QTest::addRow("16:9 in 4:3 gives bars above and below")
            << 16.0f / 9 << 4.0f / 3 << 0.0f << 1.0f << -1.0f / 6 << 7.0f / 6;
        QTest::addRow("4:3 in 16:9 gives bars left and right")
            << 4.0f / 3 << 16.0f / 9 << -1.0f / 6 << 7.0f / 6 << 0.0f << 1.0f;
        QTest::addRow("equal aspects stay unchanged") << 16.0f / 9 << 16.0f / 9 << 0.0f << 1.0f << 0.0f << 1.0f;
        QTest::addRow("square in a tall cell") << 1.0f << 0.5f << 0.0f << 1.0f << -0.5f << 1.5f;
        QTest::addRow("zero frame aspect is not fitted") << 0.0f << 1.5f << 0.0f << 1.0f << 0.0f << 1.0f;
    }

    void aspectFit()
    {
        QFETCH(float, frameAspect);
        QFETCH(float, cellAspect);
        QFETCH(float, sLeft);
        QFETCH(float, sRight);
        QFETCH(float, tTop);
        QFETCH(float, tBottom);

        const CellLayout::Quad cell = CellLayout::Quad::fromRect(-0.5f, 0.5f, 0.25f, -0.75f);
        const CellLayout::Quad fitted = CellLayout::aspectFit(cell, frameAspect, cellAspect);
        for (int vertex = 0; vertex < 4; ++vertex) {
            QCOMPARE(fitted.x(vertex), cell.x(vertex));
            QCOMPARE(fitted.y(vertex), cell.y(vertex));
        }
        const float e = 1e-5f;
        QVERIFY(std::abs(fitted.s(CellLayout::TopLeft) - sLeft) < e);
        QVERIFY(std::abs(fitted.s(CellLayout::BottomLeft) - sLeft) < e);
        QVERIFY(std::abs(fitted.s(CellLayout::TopRight) - sRight) < e);
        QVERIFY(std::abs(fitted.s(CellLayout::BottomRight) - sRight) < e);
        QVERIFY(std::abs(fitted.t(CellLayout::TopLeft) - tTop) < e);
        QVERIFY(std::abs(fitted.t(CellLayout::TopRight) - tTop) < e);
        QVERIFY(std::abs(fitted.t(CellLayout::BottomLeft) - tBottom) < e);
        QVERIFY(std::abs(fitted.t(CellLayout::BottomRight) - tBottom) < e);

        // The visible picture (texture range 0..1) keeps the frame's aspect inside the cell.
        if (frameAspect > 0.0f) {
            const float visibleWidth = 1.0f / (sRight - sLeft);
            const float visibleHeight = 1.0f / (tBottom - tTop);
            QVERIFY(std::abs(cellAspect * visibleWidth / visibleHeight - frameAspect) < 1e-4f);
        }
    }
};

QTEST_APPLESS_MAIN(TestCellLayout)
#include "tst_celllayout.moc"
