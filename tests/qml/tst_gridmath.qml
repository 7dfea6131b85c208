import QtQuick
import QtTest
import "qrc:/gridmath.js" as GridMath

TestCase {
    name: "GridMath"

    function test_cellSizes_data() {
        return [
            { tag: "1100 px in 3 columns", total: 1100, count: 3, expected: [367, 367, 366] },
            { tag: "619 px in 3 rows", total: 619, count: 3, expected: [207, 206, 206] },
            { tag: "619 px in 4 rows", total: 619, count: 4, expected: [155, 155, 155, 154] },
            { tag: "1100 px in 4 columns", total: 1100, count: 4, expected: [275, 275, 275, 275] },
            { tag: "1101 px in 5 columns", total: 1101, count: 5, expected: [221, 220, 220, 220, 220] },
            { tag: "1104 px in 5 columns", total: 1104, count: 5, expected: [221, 221, 221, 221, 220] },
            { tag: "372 px in 3 rows", total: 372, count: 3, expected: [124, 124, 124] },
            { tag: "1 px in 2 columns", total: 1, count: 2, expected: [1, 0] }
        ]
    }
    function test_cellSizes(data) {
        var sizes = []
        for (var i = 0; i < data.count; ++i)
            sizes.push(GridMath.cellSize(data.total, data.count, i))
        compare(sizes, data.expected)
    }

    // Whatever the window size, the cells add up to the grid: no gap, no overlap.
    function test_cellsTile_data() {
        var rows = []
        var counts = [1, 2, 3, 4, 5]
        for (var c = 0; c < counts.length; ++c)
            for (var total = 1100; total < 1100 + 2 * counts[c] + 1; ++total)
                rows.push({ tag: total + " px in " + counts[c], total: total, count: counts[c] })
        return rows
    }
    function test_cellsTile(data) {
        var sum = 0
        var min = 1e9
        var max = 0
        for (var i = 0; i < data.count; ++i) {
            var size = GridMath.cellSize(data.total, data.count, i)
            sum += size
            min = Math.min(min, size)
            max = Math.max(max, size)
        }
        compare(sum, data.total)
        verify(max - min <= 1)
    }

    function test_cellOfRow_data() {
        return [
            { tag: "row 0 of 3x3", row: 0, columns: 3, rows: 3, w: 367, h: 207 },
            { tag: "row 5 of 3x3", row: 5, columns: 3, rows: 3, w: 366, h: 206 },
            { tag: "row 7 of 3x3", row: 7, columns: 3, rows: 3, w: 367, h: 206 }
        ]
    }
    function test_cellOfRow(data) {
        compare(GridMath.cellWidth(data.row, 1100, data.columns), data.w)
        compare(GridMath.cellHeight(data.row, 619, data.columns, data.rows), data.h)
    }

    function test_extraHeight_data() {
        return [
            { tag: "no extra cells", height: 619, extra: 0, rows: 3, expected: 0 },
            { tag: "2+8 takes half", height: 619, extra: 2, rows: 2, expected: 309 },
            { tag: "2+14 takes two fifths", height: 619, extra: 2, rows: 3, expected: 247 },
            { tag: "2+14 at 1080", height: 1080, extra: 2, rows: 3, expected: 432 }
        ]
    }
    function test_extraHeight(data) {
        compare(GridMath.extraHeight(data.height, data.extra, data.rows), data.expected)
    }

    function test_extraCells_data() {
        return [
            { tag: "even width", width: 1100, w: 550, x2: 550 },
            { tag: "odd width", width: 1101, w: 550, x2: 551 }
        ]
    }
    function test_extraCells(data) {
        compare(GridMath.extraCellWidth(data.width), data.w)
        compare(GridMath.extraCell2X(data.width), data.x2)
    }

    function test_evenCeil_data() {
        return [
            { tag: "even stays", value: 400, expected: 400 },
            { tag: "odd goes up", value: 401, expected: 402 },
            { tag: "fraction goes up", value: 400.2, expected: 402 },
            { tag: "fraction to even", value: 399.5, expected: 400 }
        ]
    }
    function test_evenCeil(data) {
        compare(GridMath.evenCeil(data.value), data.expected)
    }
}
