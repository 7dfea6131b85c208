#pragma once

#include <array>
#include <vector>

// Where each slot's picture goes in the window, in normalised device coordinates. Shared
// arithmetic of the preview renderer; it knows nothing of OpenGL so it can be checked alone.
class CellLayout
{
public:
    // One cell: four vertices (x, y, s, t) in the order top-left, top-right, bottom-right,
    // bottom-left. Texture row 0 is at the top of the cell.
    struct Quad {
        std::array<float, 16> v {};

        float x(int vertex) const { return v[vertex * 4]; }
        float y(int vertex) const { return v[vertex * 4 + 1]; }
        float s(int vertex) const { return v[vertex * 4 + 2]; }
        float t(int vertex) const { return v[vertex * 4 + 3]; }
        float left() const { return x(0); }
        float right() const { return x(1); }
        float top() const { return y(0); }
        float bottom() const { return y(2); }

        static Quad fromRect(float left, float top, float right, float bottom);
    };

    enum Vertex { TopLeft = 0, TopRight = 1, BottomRight = 2, BottomLeft = 3 };

    CellLayout()
        : CellLayout(1, 1, 0)
    {
    }
    CellLayout(int columns, int rows, int extras);

    // Quad i belongs to entry i of the full slot list (special slots first).
    const std::vector<Quad>& quads() const { return m_quads; }
    int columns() const { return m_columns; }
    int rows() const { return m_rows; }
    int extras() const { return m_extras; }
    float gridHeightFraction() const { return m_gridHeightFraction; }

    float layoutRatio() const;
    // The display aspect every cell has in a viewport of width x height pixels.
    float cellAspect(int width, int height) const;

    // The quad with its texture coordinates widened so that a picture of aspect frameAspect keeps
    // its shape in a cell of aspect cellAspect; the border colour fills the rest.
    static Quad aspectFit(const Quad& quad, float frameAspect, float cellAspect);

    // The reduction that still covers the cell's pixels: a frame of width x height (shown at
    // frameAspect) drawn into a cell of cellWidth x cellHeight pixels needs only every step-th row
    // and column. 1 for a frame no larger than the picture it makes.
    static int reductionStep(int width, int height, float frameAspect, float cellWidth, float cellHeight);

private:
    std::vector<Quad> m_quads;
    int m_columns = 1;
    int m_rows = 1;
    int m_extras = 0;
    float m_gridHeightFraction = 1.0f;
};
