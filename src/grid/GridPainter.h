#pragma once
// GridPainter draws one data grid onto a given painter, only where the
// region asks for it: the grid lines first, then the cells area by area
// (fixed corner, title row, indicator column, data area), then the fill
// beyond the last cell. Every pixel of the client area is covered, so the
// background is never erased separately. Made for one paint (or one
// DrawFieldText) on the GUI thread; holds no state between paints.
//
// It reads everything from a GridPaintState the widget filled for this paint
// and knows nothing of the widget itself.
//
// A data cell is painted with the data link's active record set to the
// cell's row and restored afterwards, also when a display text or a hook
// throws; the exception then leaves Paint and the rest of the grid is not
// painted in that pass.

#include "data/DataSet.h"
#include "grid/GridPaintState.h"
#include "grid/GridTypes.h"

#include <QFontMetrics>
#include <QImage>
#include <QRect>
#include <QRegion>
#include <QString>

#include <optional>

class QPainter;

namespace querlin::grid {

class GridPainter {
public:
    GridPainter(const GridPaintState& state, QPainter& painter);

    void Paint(const QRegion& region);
    bool Paints(const QPainter& painter) const { return &painter_ == &painter; }

    void FillRect(const QRect& rect, TColor color);
    // Writes one line of text in a rectangle: from left + dx, or ending 3
    // pixels left of the right edge (right edge = x + width), or centred;
    // top + dy; clipped to the rectangle, which is first filled when asked.
    void WriteText(const QRect& rect, int dx, int dy, const QString& text,
                   data::TAlignment alignment, const TFont& font, TColor brush, bool fill,
                   bool endEllipsis = false, TTextLayout layout = TTextLayout::tlTop);

    // The 6 x 11 indicator glyphs, by the record set's state on the current row.
    static constexpr int kBrowseGlyph = 0;  // an arrow
    static constexpr int kEditGlyph = 1;    // an I-beam
    static constexpr int kInsertGlyph = 2;  // a star
    static const QImage& IndicatorGlyph(int index);
    static constexpr int GlyphWidth = 6;
    static constexpr int GlyphHeight = 11;

private:
    struct Area {
        int firstCol, lastCol;  // lastCol exclusive
        int firstRow, lastRow;
        int left, top;
        bool fixed;
    };

    void PaintLines(const Area& area);
    void PaintCells(const Area& area, const QRegion& region);
    void DrawCell(int col, int row, const QRect& rect, TGridDrawState state);
    void DrawIndicatorCell(int row, const QRect& inner, int dx);
    void DrawDataCell(int col, int row, const QRect& rect, int dx, int dy, TGridDrawState state);
    void DrawRaisedEdge(const QRect& rect);
    void DrawFocusRect(const QRect& rect);
    const QFontMetrics& Metrics(const QFont& font);
    QColor Resolve(TColor color) const;
    int AreaRight(const Area& area) const;
    int AreaBottom(const Area& area) const;

    const GridPaintState& state_;
    const GridGeometry& geometry_;
    QPainter& painter_;
    QFont metricsFont_;
    std::optional<QFontMetrics> metrics_;
};

} // namespace querlin::grid
