.pragma library

// Cell arithmetic of the main window's grid. The preview renderer draws its quads with the same
// rules, so overlay and picture meet to the pixel.

// Indices of the cells that get one extra pixel when `total` does not divide by `count`.
function widerCells(total, count) {
    count = Math.max(1, count)
    var n = total % count
    var set = {}
    for (var x = 0; x < n; ++x)
        set[Math.floor(x * count / n)] = true
    return set
}

function cellSize(total, count, i) {
    count = Math.max(1, count)
    total = Math.max(0, Math.floor(total))
    var base = Math.floor(total / count)
    return base + (widerCells(total, count)[i] ? 1 : 0)
}

function cellWidth(row, gridWidth, columns) {
    columns = Math.max(1, columns)
    return cellSize(gridWidth, columns, row % columns)
}

function cellHeight(row, gridHeight, columns, rows) {
    columns = Math.max(1, columns)
    return cellSize(gridHeight, Math.max(1, rows), Math.floor(row / columns))
}

// Height taken above the grid by the two extra cells.
function extraHeight(windowHeight, gridExtra, gridRows) {
    if (!gridExtra)
        return 0
    return gridRows === 2 ? Math.floor(windowHeight / 2) : Math.floor(windowHeight * 2 / 5)
}

function extraCellWidth(windowWidth) {
    return Math.floor(windowWidth / 2)
}

function extraCell2X(windowWidth) {
    return Math.ceil(windowWidth / 2)
}

// Dialog sizes are rounded up to even numbers so that centring lands on whole pixels.
function evenCeil(value) {
    var v = Math.ceil(value)
    return v % 2 === 0 ? v : v + 1
}

function centred(outer, inner) {
    return Math.floor((outer - inner) / 2)
}
