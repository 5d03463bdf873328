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
#include <string_view>

class QPainter;

namespace querlin::grid {

// What of a text is handed to the text layout for a line of `room` pixels.
// A text of millions of characters is never laid out whole: only a piece
// that reaches past the room is, taken where the line shows it (the start of
// left-aligned text, the end of right-aligned text, the middle of centred
// text) and never cutting a surrogate pair. A text that fits comes back
// whole, so the pixels are those of the whole text. A piece holds at most
// 16 UTF-16 units per pixel of room (plus 256): characters of no width, such
// as a run of combining marks, cannot make the layout unbounded.
QString TextToLayOut(const QString& text, data::TAlignment alignment, int room,
                     const QFontMetrics& metrics);
// The same bound, first applied to UTF-8 bytes: only a window of the value
// (cut at character boundaries) is turned into a QString at all.
QString TextToLayOut(std::string_view utf8, data::TAlignment alignment, int room,
                     const QFontMetrics& metrics);
// The most UTF-16 units TextToLayOut hands on for a room.
qsizetype LayoutBound(int room);

class GridPainter {
public:
    GridPainter(const GridPaintState& state, QPainter& painter);

    void Paint(const QRegion& region);
    bool Paints(const QPainter& painter) const { return &painter_ == &painter; }

    void FillRect(const QRect& rect, TColor color);
    const QFontMetrics& Metrics(const QFont& font);
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
