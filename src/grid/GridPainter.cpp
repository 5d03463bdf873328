#include "grid/GridPainter.h"

#include "grid/GridColumns.h"

#include <QPainter>

#include <algorithm>
#include <array>

namespace querlin::grid {

using data::TAlignment;

namespace {

// Rows from top to bottom, '#' black, '.' transparent.
constexpr std::array<const char*, 11> kArrowRows{
    "#.....", "##....", "###...", "####..", "#####.", "######",
    "#####.", "####..", "###...", "##....", "#.....",
};
constexpr std::array<const char*, 11> kEditRows{
    "##..##", "..##..", "..##..", "..##..", "..##..", "..##..",
    "..##..", "..##..", "..##..", "..##..", "##..##",
};
constexpr std::array<const char*, 11> kInsertRows{
    "......", "......", "......", ".#..#.", "..##..", "######",
    "..##..", ".#..#.", "......", "......", "......",
};

QImage MakeGlyph(const std::array<const char*, 11>& rows)
{
    QImage image(GridPainter::GlyphWidth, GridPainter::GlyphHeight,
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    for (int y = 0; y < GridPainter::GlyphHeight; ++y)
        for (int x = 0; x < GridPainter::GlyphWidth; ++x)
            if (rows[std::size_t(y)][x] == '#')
                image.setPixel(x, y, qRgb(0, 0, 0));
    return image;
}

// Puts the painted row's record in the data link's active place for as long
// as the cell is painted, and back afterwards, whatever happens.
class ActiveRecordScope {
public:
    ActiveRecordScope(data::TDataLink& link, int record) : link_(link), saved_(link.ActiveRecord())
    {
        if (record != saved_)
            link_.SetActiveRecord(record);
    }
    ~ActiveRecordScope()
    {
        try {
            if (link_.ActiveRecord() != saved_)
                link_.SetActiveRecord(saved_);
        } catch (...) {
            // Restoring a held row cannot fail; never throw from here.
        }
    }
    ActiveRecordScope(const ActiveRecordScope&) = delete;
    ActiveRecordScope& operator=(const ActiveRecordScope&) = delete;

private:
    data::TDataLink& link_;
    int saved_;
};

// The piece of n units of a text that its alignment shows, widened so that
// no surrogate pair is cut.
QString PieceOf(const QString& text, TAlignment alignment, qsizetype n)
{
    const qsizetype size = text.size();
    if (n >= size)
        return text;
    qsizetype start = 0;
    if (alignment == TAlignment::taRightJustify)
        start = size - n;
    else if (alignment == TAlignment::taCenter)
        start = (size - n) / 2;
    if (start > 0 && text.at(start).isLowSurrogate())
        --start, ++n;
    if (start + n < size && text.at(start + n - 1).isHighSurrogate())
        ++n;
    return text.mid(start, n);
}

bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

} // namespace

qsizetype LayoutBound(int room) { return 16 * static_cast<qsizetype>(std::max(room, 1)) + 256; }

QString TextToLayOut(const QString& text, TAlignment alignment, int room, const QFontMetrics& metrics)
{
    const qsizetype bound = LayoutBound(room);
    // Most glyphs are wider than a pixel: a piece as long as the room is
    // wide nearly always reaches past it; double it while it does not.
    qsizetype n = std::min<qsizetype>(std::max(room, 64), bound);
    while (n < text.size()) {
        QString piece = PieceOf(text, alignment, n);
        if (n >= bound || metrics.horizontalAdvance(piece) > room)
            return piece;
        n = std::min(n * 2, bound);
    }
    return text;
}

QString TextToLayOut(std::string_view utf8, TAlignment alignment, int room, const QFontMetrics& metrics)
{
    // Every UTF-16 unit takes at most three bytes, so a window of three bytes
    // per unit of the bound holds every unit the layout could be handed.
    const std::size_t window = 3 * static_cast<std::size_t>(LayoutBound(room)) + 4;
    if (utf8.size() > window) {
        std::size_t start = 0;
        if (alignment == TAlignment::taRightJustify)
            start = utf8.size() - window;
        else if (alignment == TAlignment::taCenter)
            start = (utf8.size() - window) / 2;
        std::size_t end = start + window;
        while (start > 0 && IsUtf8Continuation(utf8[start]))
            --start;
        while (end < utf8.size() && IsUtf8Continuation(utf8[end]))
            ++end;
        utf8 = utf8.substr(start, end - start);
    }
    return TextToLayOut(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())), alignment,
                        room, metrics);
}

GridPainter::GridPainter(const GridPaintState& state, QPainter& painter)
    : state_(state), geometry_(*state.Geometry), painter_(painter)
{
}

const QImage& GridPainter::IndicatorGlyph(int index)
{
    static const std::array<QImage, 3> glyphs{MakeGlyph(kArrowRows), MakeGlyph(kEditRows),
                                              MakeGlyph(kInsertRows)};
    return glyphs[std::size_t(std::clamp(index, kBrowseGlyph, kInsertGlyph))];
}

QColor GridPainter::Resolve(TColor color) const
{
    return ResolveColor(color, state_.Palette);
}

const QFontMetrics& GridPainter::Metrics(const QFont& font)
{
    if (!metrics_ || !(metricsFont_ == font)) {
        metricsFont_ = font;
        metrics_.emplace(font);
    }
    return *metrics_;
}

void GridPainter::FillRect(const QRect& rect, TColor color)
{
    if (rect.width() > 0 && rect.height() > 0)
        painter_.fillRect(rect, Resolve(color));
}

int GridPainter::AreaRight(const Area& area) const
{
    const GridGeometry& g = geometry_;
    int x = area.left;
    for (int c = area.firstCol; c < area.lastCol && x < g.ClientSize().width(); ++c)
        x += g.ColSpan(c);
    return x;
}

int GridPainter::AreaBottom(const Area& area) const
{
    const GridGeometry& g = geometry_;
    int y = area.top;
    for (int r = area.firstRow; r < area.lastRow && y < g.ClientSize().height(); ++r)
        y += g.RowSpan(r);
    return y;
}

void GridPainter::Paint(const QRegion& region)
{
    const GridGeometry& g = geometry_;
    painter_.setClipping(false);
    if (region.isEmpty())
        return;
    int fixedWidth = g.FixedWidth();
    int fixedHeight = g.FixedHeight();
    const Area areas[4] = {
        {0, g.FixedCols(), 0, g.FixedRows(), 0, 0, true},
        {g.LeftCol(), g.ColCount(), 0, g.FixedRows(), fixedWidth, 0, true},
        {0, g.FixedCols(), g.TopRow(), g.RowCount(), 0, fixedHeight, true},
        {g.LeftCol(), g.ColCount(), g.TopRow(), g.RowCount(), fixedWidth, fixedHeight, false},
    };
    QRect bounds = region.boundingRect();
    for (const Area& area : areas) {
        QRect extent(QPoint(area.left, area.top), QPoint(AreaRight(area) - 1, AreaBottom(area) - 1));
        if (extent.intersects(bounds))
            PaintLines(area);
    }
    for (const Area& area : areas)
        PaintCells(area, region);

    // Beyond the last column and below the last row.
    int right = g.GridRight();
    int bottom = g.GridBottom();
    QSize client = g.ClientSize();
    FillRect(QRect(right, 0, client.width() - right, client.height()), state_.Color);
    FillRect(QRect(0, bottom, std::min(right, client.width()), client.height() - bottom),
             state_.Color);
    }

void GridPainter::PaintLines(const Area& area)
{
    const GridGeometry& g = geometry_;
    TGridOptions options = state_.GridOptions;
    int right = AreaRight(area);
    int bottom = AreaBottom(area);
    TColor vertical, horizontal;
    if (area.fixed) {
        TColor lineColor = state_.Flat ? clGray : clBlack;
        vertical = options.Contains(goFixedVertLine) ? lineColor : state_.FixedColor;
        horizontal = options.Contains(goFixedHorzLine) ? lineColor : state_.FixedColor;
    } else {
        TColor lineColor = state_.Color == clSilver ? clGray : clSilver;
        vertical = options.Contains(goVertLine) ? lineColor : state_.Color;
        horizontal = options.Contains(goHorzLine) ? lineColor : state_.Color;
    }
    int lineWidth = g.VertLineWidth();
    if (lineWidth > 0) {
        QColor color = Resolve(vertical);
        int x = area.left;
        for (int c = area.firstCol; c < area.lastCol && x < g.ClientSize().width(); ++c) {
            int width = g.ColWidth(c);
            if (width >= 0)
                painter_.fillRect(QRect(x + width, area.top, lineWidth, bottom - area.top), color);
            x += g.ColSpan(c);
        }
    }
    lineWidth = g.HorzLineWidth();
    if (lineWidth > 0) {
        QColor color = Resolve(horizontal);
        int y = area.top;
        for (int r = area.firstRow; r < area.lastRow && y < g.ClientSize().height(); ++r) {
            int height = g.RowHeight(r);
            if (height >= 0)
                painter_.fillRect(QRect(area.left, y + height, right - area.left, lineWidth), color);
            y += g.RowSpan(r);
        }
    }
}

void GridPainter::PaintCells(const Area& area, const QRegion& region)
{
    const GridGeometry& g = geometry_;
    QRect bounds = region.boundingRect();
    bool simpleRegion = region.rectCount() == 1;
    QSize client = g.ClientSize();
    int y = area.top;
    for (int r = area.firstRow; r < area.lastRow && y < client.height(); ++r) {
        int height = g.RowHeight(r);
        if (y + height <= bounds.top() || y > bounds.bottom() || height <= 0) {
            y += g.RowSpan(r);
            continue;
        }
        int x = area.left;
        for (int c = area.firstCol; c < area.lastCol && x < client.width(); ++c) {
            int width = g.ColWidth(c);
            QRect rect(x, y, width, height);
            x += g.ColSpan(c);
            if (width <= 0 || !rect.intersects(bounds))
                continue;
            if (!simpleRegion && !region.intersects(rect))
                continue;
            TGridDrawState state;
            if (area.fixed)
                state += gdFixed;
            if (c == state_.Col && r == state_.Row) {
                state += gdSelected;
                if (state_.Focused)
                    state += gdFocused;
            }
            DrawCell(c, r, rect, state);
        }
        y += g.RowSpan(r);
    }
}

void GridPainter::DrawCell(int col, int row, const QRect& rect, TGridDrawState state)
{
    painter_.setClipping(false);
    bool frame = state.Contains(gdFixed) && state_.OptionsEx.Contains(dgxFixed3D) && !state_.Flat;
    QRect inner = frame ? rect.adjusted(1, 1, -1, -1) : rect;
    int dx = frame ? 1 : 2;
    int dy = dx - (state_.Flat ? 1 : 0);
    int indicatorOffset = state_.IndicatorOffset;
    int titleOffset = state_.TitleOffset;

    if (col < indicatorOffset) {
        FillRect(inner, state_.FixedColor);
        if (row >= titleOffset)
            DrawIndicatorCell(row, inner, dx);
    } else if (row < titleOffset) {
        if (TDataGridColumn* column = state_.ColumnAt(col)) {
            const TColumnTitle& title = column->Title();
            WriteText(inner, dx, dy, QString::fromStdString(title.Caption()), title.Alignment(),
                      title.Font(), title.Color(), true);
        } else {
            FillRect(inner, state_.FixedColor);
        }
    } else {
        TDataGridColumn* column = state_.ColumnAt(col);
        const data::TDataLink& link = *state_.Link;
        int dataRow = row - titleOffset;
        if (column && link.Active() && dataRow < link.RecordCount())
            DrawDataCell(col, row, rect, dx, dy, state);
        else
            FillRect(inner, column ? column->Color() : state_.Color);
    }
    if (frame)
        DrawRaisedEdge(rect);
}

void GridPainter::DrawIndicatorCell(int row, const QRect& inner, int dx)
{
    const data::TDataLink& link = *state_.Link;
    data::TADOQuery* dataSet = link.DataSet();
    if (!link.Active() || !dataSet)
        return;
    // On an empty record set the link's active record is 0: the one empty
    // row shows where a new record would go.
    if (row - state_.TitleOffset != std::max(link.ActiveRecord(), 0))
        return;
    int glyph = kBrowseGlyph;
    if (dataSet->State() == data::TDataSetState::dsInsert)
        glyph = kInsertGlyph;
    int left = inner.x() + inner.width() - GlyphWidth - dx;
    int top = (inner.top() + inner.y() + inner.height() - GlyphHeight) / 2;
    painter_.drawImage(QPoint(left, top), IndicatorGlyph(glyph));
}

void GridPainter::DrawDataCell(int col, int row, const QRect& rect, int dx, int dy,
                               TGridDrawState state)
{
    TDataGridColumn* column = state_.ColumnAt(col);
    data::TDataLink& link = *state_.Link;
    data::TADOQuery* dataSet = link.DataSet();
    TCanvas& canvas = *state_.Canvas;
    canvas.Painter = &painter_;
    canvas.Font = column->Font();
    canvas.Brush.Color = column->Color();

    ActiveRecordScope scope(link, row - state_.TitleOffset);

    if (state_.RowColorsAssigned && column->Color() == state_.Color && dataSet &&
        dataSet->KnowsPositions())
        canvas.Brush.Color =
            dataSet->RecordNumber() % 2 != 0 ? state_.OddRowColor : state_.EvenRowColor;

    data::TField* field = column->Field();
    QString text = field ? TextToLayOut(field->DisplayText(), column->Alignment(), rect.width(),
                                        Metrics(canvas.Font.Font))
                         : QString();

    TFont font = canvas.Font;
    TColor background = canvas.Brush.Color;
    if (state_.OnGetCellParams && *state_.OnGetCellParams)
        (*state_.OnGetCellParams)(state_.Sender, column, font, background, state);

    // The current cell: selection colours while focused, the button shadow
    // when the grid keeps showing its selection without the focus.
    TDataGridOptions options = state_.Options;
    bool rowSelect = options.Contains(dgRowSelect);
    bool focused = state_.Focused;
    bool selected = state.Contains(gdSelected) || (rowSelect && row == state_.Row);
    if (selected &&
        (options.Contains(dgAlwaysShowSelection) ||
         (focused && state_.OptionsEx.Contains(dgxHighlightFocus))) &&
        (!state_.UpdateLocked || rowSelect)) {
        background = focused ? clHighlight : clBtnShadow;
        font.Color = clHighlightText;
        state += gdSelected;
    }

    canvas.Font = font;
    canvas.Brush.Color = background;
    if (state_.DefaultDrawing && rect.width() > 0)
        WriteText(rect, dx, dy, text, column->Alignment(), font, background, true,
                  column->EndEllipsis(), column->Layout());

    if (state_.OnDrawDataCell && *state_.OnDrawDataCell &&
        state_.Columns->State() == TColumnsState::csDefault) {
        (*state_.OnDrawDataCell)(state_.Sender, rect, field, state);
        painter_.setClipping(false);
    }
    if (state_.OnDrawColumnCell && *state_.OnDrawColumnCell) {
        (*state_.OnDrawColumnCell)(state_.Sender, rect, col - state_.IndicatorOffset, column, state);
        painter_.setClipping(false);
    }

    if (state_.DefaultDrawing && state.Contains(gdFocused) && focused && !rowSelect &&
        !state_.UpdateLocked)
        DrawFocusRect(rect);
}

void GridPainter::WriteText(const QRect& rect, int dx, int dy, const QString& text,
                            TAlignment alignment, const TFont& font, TColor brush, bool fill,
                            bool endEllipsis, TTextLayout layout)
{
    if (fill)
        FillRect(rect, brush);
    if (text.isEmpty() || rect.width() <= 0 || rect.height() <= 0)
        return;
    const QFontMetrics& metrics = Metrics(font.Font);
    QString shown = TextToLayOut(text, alignment, rect.width(), metrics);
    int width = metrics.horizontalAdvance(shown);
    if (endEllipsis && width > rect.width() - dx) {
        while (!shown.isEmpty() &&
               metrics.horizontalAdvance(shown + QStringLiteral("...")) > rect.width() - dx)
            shown.chop(1);
        shown += QStringLiteral("...");
        width = metrics.horizontalAdvance(shown);
    }
    int right = rect.x() + rect.width();
    int x;
    switch (alignment) {
    case TAlignment::taRightJustify: x = right - width - 3; break;
    case TAlignment::taCenter: x = rect.x() + rect.width() / 2 - width / 2; break;
    default: x = rect.x() + dx; break;
    }
    int y = rect.y() + dy;
    int textHeight = metrics.height();
    if (layout != TTextLayout::tlTop && textHeight < rect.height() - dy) {
        if (layout == TTextLayout::tlCenter)
            y = rect.y() + (rect.height() - textHeight) / 2;
        else
            y = rect.y() + rect.height() - textHeight - dy;
    }
    painter_.setFont(font.Font);
    painter_.setPen(Resolve(font.Color));
    // Clip only when the text may leave its cell; most cells fit.
    bool clip = x < rect.x() + 1 || x + width > right - 1 || y + textHeight > rect.y() + rect.height();
    if (clip)
        painter_.setClipRect(rect);
    painter_.drawText(QPoint(x, y + metrics.ascent()), shown);
    if (clip)
        painter_.setClipping(false);
}

void GridPainter::DrawRaisedEdge(const QRect& rect)
{
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    QColor light = Resolve(clBtnHighlight);
    QColor shadow = Resolve(clBtnShadow);
    painter_.fillRect(QRect(rect.x(), rect.y(), rect.width(), 1), light);
    painter_.fillRect(QRect(rect.x(), rect.y(), 1, rect.height()), light);
    painter_.fillRect(QRect(rect.x(), rect.y() + rect.height() - 1, rect.width(), 1), shadow);
    painter_.fillRect(QRect(rect.x() + rect.width() - 1, rect.y(), 1, rect.height()), shadow);
}

void GridPainter::DrawFocusRect(const QRect& rect)
{
    // A dotted rectangle inverted into the pixels, so drawing it twice
    // takes it away again: every other pixel along the border.
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    painter_.save();
    painter_.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    QColor white(255, 255, 255);
    int left = rect.x(), top = rect.y();
    int right = rect.x() + rect.width() - 1, bottom = rect.y() + rect.height() - 1;
    auto dot = [&](int x, int y) {
        if (((x - left) + (y - top)) % 2 == 0)
            painter_.fillRect(QRect(x, y, 1, 1), white);
    };
    for (int x = left; x <= right; ++x) {
        dot(x, top);
        if (bottom != top)
            dot(x, bottom);
    }
    for (int y = top + 1; y < bottom; ++y) {
        dot(left, y);
        if (right != left)
            dot(right, y);
    }
    painter_.restore();
}

} // namespace querlin::grid
