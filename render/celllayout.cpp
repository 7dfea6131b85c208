#include "render/celllayout.h"

#include <algorithm>

CellLayout::Quad CellLayout::Quad::fromRect(float left, float top, float right, float bottom)
{
    Quad quad;
    quad.v = { left, top, 0.0f, 0.0f, right, top, 1.0f, 0.0f, right, bottom, 1.0f, 1.0f, left, bottom, 0.0f, 1.0f };
    return quad;
}

CellLayout::CellLayout(int columns, int rows, int extras)
    : m_columns(std::max(columns, 1))
    , m_rows(std::max(rows, 1))
    , m_extras(extras)
{
    float gridTop = 1.0f;
    float cellHeight = 2.0f / m_rows;
    if (m_extras == 2 && m_rows == 3) {
        m_quads.push_back(Quad::fromRect(-0.9f, 1.0f, -0.1f, 0.2f));
        m_quads.push_back(Quad::fromRect(0.1f, 1.0f, 0.9f, 0.2f));
        gridTop = 0.2f;
        cellHeight = 1.2f / m_rows;
        m_gridHeightFraction = 0.6f;
    } else if (m_extras == 2 && m_rows == 2) {
        m_quads.push_back(Quad::fromRect(-1.0f, 1.0f, 0.0f, 0.0f));
        m_quads.push_back(Quad::fromRect(0.0f, 1.0f, 1.0f, 0.0f));
        gridTop = 0.0f;
        cellHeight = 1.0f / m_rows;
        m_gridHeightFraction = 0.5f;
    }

    const float cellWidth = 2.0f / m_columns;
    for (int i = 0; i < m_rows; ++i) {
        for (int j = 0; j < m_columns; ++j) {
            m_quads.push_back(Quad::fromRect(j * cellWidth - 1.0f, gridTop - i * cellHeight, (j + 1) * cellWidth - 1.0f,
                gridTop - (i + 1) * cellHeight));
        }
    }
}

float CellLayout::layoutRatio() const
{
    return float(m_columns) / float(m_rows) * m_gridHeightFraction;
}

float CellLayout::cellAspect(int width, int height) const
{
    if (width < 1 || height < 1)
        return 1.0f;
    return (float(width) / float(height)) / layoutRatio();
}

CellLayout::Quad CellLayout::aspectFit(const Quad& quad, float frameAspect, float cellAspect)
{
    Quad fitted = quad;
    // A frame without a usable aspect is drawn stretched rather than divided by zero.
    if (!(frameAspect > 0.0f) || !(cellAspect > 0.0f))
        return fitted;
    if (cellAspect > frameAspect) {
        const float m = cellAspect / frameAspect;
        const float d = (1.0f - m) / 2.0f;
        fitted.v[TopLeft * 4 + 2] = d;
        fitted.v[BottomLeft * 4 + 2] = d;
        fitted.v[TopRight * 4 + 2] = 1.0f - d;
        fitted.v[BottomRight * 4 + 2] = 1.0f - d;
    } else if (frameAspect > cellAspect) {
        const float m = frameAspect / cellAspect;
        const float d = (1.0f - m) / 2.0f;
        fitted.v[TopLeft * 4 + 3] = d;
        fitted.v[TopRight * 4 + 3] = d;
        fitted.v[BottomRight * 4 + 3] = 1.0f - d;
        fitted.v[BottomLeft * 4 + 3] = 1.0f - d;
    }
    return fitted;
}

int CellLayout::reductionStep(int width, int height, float frameAspect, float cellWidth, float cellHeight)
{
    if (width < 1 || height < 1 || !(cellWidth >= 1.0f) || !(cellHeight >= 1.0f))
        return 1;
    if (!(frameAspect > 0.0f))
        frameAspect = float(width) / float(height);
    // The picture's own size in the cell: its full height, or its full width, whichever fits.
    const float shownHeight = std::min(cellHeight, cellWidth / frameAspect);
    const float shownWidth = shownHeight * frameAspect;
    const float step = std::min(float(width) / shownWidth, float(height) / shownHeight);
    return std::max(1, int(step));
}
