// What the grid paints, read from the pixels of its client area and from
// the calls its draw hook receives, over a real local store.
#include "testsupport/GridTestSupport.h"
#include "grid/GridPainter.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLineEdit>
#include <QVBoxLayout>

#include <stdexcept>

using namespace querlin;
using namespace querlin::grid;
using querlin::test::GridOverStore;

namespace {

struct HookCall {
    int dataCol;
    int recordNumber;
    QRect rect;
};

bool IsRed(QRgb p) { return qRed(p) > 200 && qGreen(p) < 90 && qBlue(p) < 90; }
bool IsBlue(QRgb p) { return qBlue(p) > 200 && qRed(p) < 90 && qGreen(p) < 90; }

int CountPixels(const QImage& image, QRect rect, bool (*test)(QRgb))
{
    rect &= image.rect();
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (test(image.pixel(x, y)))
                ++count;
    return count;
}

// Every pixel of the rectangle that is not the given colour.
// Only the part of the rectangle inside the image counts.
int CountOther(const QImage& image, QRect rect, QRgb colour)
{
    rect &= image.rect();
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (image.pixel(x, y) != colour)
                ++count;
    return count;
}

// The browser window's hook: the text again, red for odd record numbers,
// blue for even ones.
void InstallParityHook(GridOverStore& t, std::vector<HookCall>& calls)
{
    t.grid.OnDrawColumnCell = [&t, &calls](TCustomDataGrid* Sender, const QRect& Rect, int DataCol,
                                           TGridColumn* Column, TGridDrawState State) {
        int number = t.query.RecordNumber();
        calls.push_back({DataCol, number, Rect});
        Sender->Canvas().Font.Color = number % 2 != 0 ? clRed : clBlue;
        Sender->DrawFieldText(Rect, Column->Field(), State);
    };
}

} // namespace

TEST(GridPainting, ParityHookPaintsOddRowsRedAndEvenRowsBlue)
{
    GridOverStore t(QSize(400, 260));
    t.store.MakeNumbers(40);
    t.Open("SELECT * FROM nums");
    t.query.MoveNext();
    t.query.MoveNext();  // the current record must not change what a row sees
    std::vector<HookCall> calls;
    InstallParityHook(t, calls);
    QImage shot = t.Shot();

    int rows = t.grid.DataLink().RecordCount();
    ASSERT_GE(rows, 5);
    EXPECT_EQ(int(calls.size()), rows * 3);
    for (const HookCall& call : calls) {
        int dataRow = t.grid.cellAt(call.rect.center()).y() - 1;
        EXPECT_EQ(call.recordNumber, dataRow + 1) << "each row sees its own number";
    }
    for (int row = 1; row <= rows; ++row) {
        QRect cell = t.grid.cellRect(1, row);
        bool odd = row % 2 != 0;
        EXPECT_GT(CountPixels(shot, cell, odd ? IsRed : IsBlue), 3) << "row " << row;
        EXPECT_EQ(CountPixels(shot, cell, odd ? IsBlue : IsRed), 0) << "row " << row;
    }
    EXPECT_EQ(t.query.RecordNumber(), 3) << "the current record is restored";
    EXPECT_EQ(t.grid.DataLink().ActiveRecord(), 2);
}

TEST(GridPainting, ClosedSetPaintsOneRaisedEmptyTitleNoGlyphNoHook)
{
    GridOverStore t;
    std::vector<HookCall> calls;
    InstallParityHook(t, calls);
    QImage shot = t.Shot();
    QRgb face = t.Palette(QPalette::Button);
    QRgb light = t.Palette(QPalette::Light);
    QRgb dark = t.Palette(QPalette::Dark);

    QRect title = t.grid.cellRect(1, 0);
    ASSERT_EQ(title.width(), 64);
    EXPECT_EQ(shot.pixel(title.left() + 5, title.top()), light) << "raised: light top";
    EXPECT_EQ(shot.pixel(title.left(), title.top() + 5), light) << "raised: light left";
    EXPECT_EQ(shot.pixel(title.left() + 5, title.bottom()), dark) << "raised: dark bottom";
    EXPECT_EQ(shot.pixel(title.right(), title.top() + 5), dark) << "raised: dark right";
    EXPECT_EQ(CountOther(shot, title.adjusted(1, 1, -1, -1), face), 0) << "no caption";
    EXPECT_EQ(CountOther(shot, t.grid.cellRect(0, 1).adjusted(1, 1, -1, -1), face), 0) << "no glyph";
    EXPECT_EQ(CountOther(shot, t.grid.cellRect(1, 1), t.Palette(QPalette::Base)), 0) << "empty row";
    QRect beyond(t.grid.cellRect(1, 1).right() + 2, 0, 20, 20);
    EXPECT_EQ(CountOther(shot, beyond, t.Palette(QPalette::Base)), 0) << "fill beyond the cells";
    EXPECT_EQ(shot.pixel(title.right() + 1, title.top() + 3), qRgb(0, 0, 0))
        << "black line between fixed cells";
    EXPECT_TRUE(calls.empty());
}

TEST(GridPainting, EmptyOpenSetPaintsTitlesAndTheArrowWithoutHook)
{
    GridOverStore t;
    t.store.MakeNumbers(0);
    t.Open("SELECT * FROM nums");
    std::vector<HookCall> calls;
    InstallParityHook(t, calls);
    QImage shot = t.Shot();
    QRgb face = t.Palette(QPalette::Button);

    for (int col = 1; col <= 3; ++col)
        EXPECT_GT(CountOther(shot, t.grid.cellRect(col, 0).adjusted(1, 1, -1, -1), face), 0)
            << "title " << col;
    // The arrow: right edge of the shrunk cell less the glyph less 1, centred.
    QRect inner = t.grid.cellRect(0, 1).adjusted(1, 1, -1, -1);
    int left = inner.x() + inner.width() - GridPainter::GlyphWidth - 1;
    int top = (inner.top() + inner.y() + inner.height() - GridPainter::GlyphHeight) / 2;
    const QImage& arrow = GridPainter::IndicatorGlyph(0);
    for (int y = 0; y < GridPainter::GlyphHeight; ++y)
        for (int x = 0; x < GridPainter::GlyphWidth; ++x) {
            QRgb expected = qAlpha(arrow.pixel(x, y)) ? qRgb(0, 0, 0) : face;
            EXPECT_EQ(shot.pixel(left + x, top + y), expected) << x << "," << y;
        }
    for (int col = 1; col <= 3; ++col)
        EXPECT_EQ(CountOther(shot, t.grid.cellRect(col, 1), t.Palette(QPalette::Base)), 0);
    EXPECT_TRUE(calls.empty());
}

TEST(GridPainting, CurrentCellColoursFollowFocusAndOptions)
{
    struct Case {
        const char* name;
        bool alwaysShowSelection;
        bool focused;
        QPalette::ColorRole background;
        bool focusRect;
    } cases[] = {
        {"grid 4 focused", false, true, QPalette::Highlight, true},
        {"grid 4 unfocused", false, false, QPalette::Base, false},
        {"grids 1-3 focused", true, true, QPalette::Highlight, true},
        {"grids 1-3 unfocused", true, false, QPalette::Dark, false},
    };
    for (const Case& c : cases) {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* edit = new QLineEdit(&window);
        GridOverStore t;
        t.grid.setParent(&window);
        layout->addWidget(&t.grid);
        layout->addWidget(edit);
        window.resize(400, 300);
        t.store.MakeNumbers(5);
        t.Open("SELECT * FROM nums");
        t.query.MoveNext();  // the current cell is on the second record
        if (c.alwaysShowSelection)
            t.grid.SetOptions(t.grid.Options() + dgAlwaysShowSelection);
        std::vector<HookCall> calls;
        InstallParityHook(t, calls);
        window.show();
        QApplication::setActiveWindow(&window);
        if (c.focused)
            t.grid.setFocus();
        else
            edit->setFocus();
        QApplication::processEvents();
        ASSERT_EQ(t.grid.hasFocus(), c.focused) << c.name;

        QImage shot = t.Shot();
        QRect cell = t.grid.cellRect(1, 2);
        QRgb background = t.Palette(c.background);
        EXPECT_EQ(shot.pixel(cell.left() + 1, cell.bottom() - 1), background) << c.name;
        // The hook's colour overrides the highlight text colour: record 2 is blue.
        EXPECT_GT(CountPixels(shot, cell, IsBlue), 3) << c.name;
        QRgb corner = shot.pixel(cell.left(), cell.top());
        if (c.focusRect)
            EXPECT_EQ(corner, background ^ 0x00FFFFFFu) << c.name << ": dotted focus";
        else
            EXPECT_EQ(corner, background) << c.name;
        // Another row keeps the window colours.
        QRect other = t.grid.cellRect(1, 3);
        EXPECT_EQ(shot.pixel(other.left() + 1, other.bottom() - 1), t.Palette(QPalette::Base));
        t.grid.setParent(nullptr);
    }
}

TEST(GridPainting, RightAlignedNumberEndsThreePixelsLeftOfTheEdgeInBothPaintings)
{
    GridOverStore t;
    t.store.MakeNumbers(3);
    t.Open("SELECT amount FROM nums");
    QImage plain = t.Shot();

    // The reference: the text alone at R - w - 3, 2 below the top.
    QRect cell = t.grid.cellRect(1, 2);
    QString text = "2345";
    QFont font = t.grid.Font().Font;
    QFontMetrics metrics(font);
    QImage reference(cell.size(), QImage::Format_RGB32);
    reference.fill(QColor(t.Palette(QPalette::Base)));
    {
        QPainter painter(&reference);
        painter.setFont(font);
        painter.setPen(QColor(t.Palette(QPalette::Text)));
        int w = metrics.horizontalAdvance(text);
        painter.drawText(QPoint(cell.width() - w - 3, 2 + metrics.ascent()), text);
    }
    ASSERT_EQ(t.query.FieldAt(0).Alignment(), data::TAlignment::taRightJustify);
    EXPECT_EQ(plain.copy(cell), reference) << "the grid's own painting";

    // A hook that only calls DrawFieldText writes the same pixels.
    t.grid.OnDrawColumnCell = [](TCustomDataGrid* Sender, const QRect& Rect, int, TGridColumn* Column,
                                 TGridDrawState State) {
        Sender->DrawFieldText(Rect, Column->Field(), State);
    };
    QImage hooked = t.Shot();
    EXPECT_EQ(hooked.copy(cell), reference) << "DrawFieldText";
    EXPECT_EQ(hooked, plain);
}

TEST(GridPainting, TitleWiderThanItsColumnIsClippedWithoutEllipsis)
{
    GridOverStore t;
    t.store.Execute("CREATE TABLE w (a_very_long_title_that_does_not_fit INTEGER, b INTEGER)");
    t.store.Execute("INSERT INTO w VALUES (1, 2)");
    t.Open("SELECT * FROM w");
    QImage shot = t.Shot();
    QRect first = t.grid.cellRect(1, 0);
    QRect second = t.grid.cellRect(2, 0);
    // Text reaches the shrunk right edge of the first title...
    QRect lastPixels(first.right() - 4, first.top() + 2, 4, first.height() - 4);
    EXPECT_GT(CountOther(shot, lastPixels, t.Palette(QPalette::Button)), 0);
    // ...the raised edge and the line stay whole, and nothing spills over.
    for (int y = first.top(); y <= first.bottom(); ++y) {
        EXPECT_EQ(shot.pixel(first.right(), y), t.Palette(QPalette::Dark));
        EXPECT_EQ(shot.pixel(first.right() + 1, y), qRgb(0, 0, 0));
    }
    QRect secondLeft(second.left() + 1, second.top() + 1, 1, second.height() - 2);
    EXPECT_EQ(CountOther(shot, secondLeft, t.Palette(QPalette::Button)), 0);
}

TEST(GridPainting, OnlyCellsMeetingTheRegionArePainted)
{
    GridOverStore t;
    t.store.MakeNumbers(20);
    t.Open("SELECT * FROM nums");
    std::vector<HookCall> calls;
    InstallParityHook(t, calls);
    QImage image(t.grid.viewport()->size(), QImage::Format_RGB32);
    struct Case {
        const char* name;
        QRegion region;
        std::vector<std::pair<int, int>> cells;  // (data column, record number)
    } cases[] = {
        {"one cell", QRegion(t.grid.cellRect(2, 3)), {{1, 3}}},
        {"one row", QRegion(0, t.grid.cellRect(1, 4).top(), 400, 3), {{0, 4}, {1, 4}, {2, 4}}},
        {"two separate cells", QRegion(t.grid.cellRect(1, 1)) + QRegion(t.grid.cellRect(3, 5)),
         {{0, 1}, {2, 5}}},
        {"titles only", QRegion(t.grid.cellRect(1, 0)), {}},
    };
    for (const Case& c : cases) {
        calls.clear();
        QPainter painter(&image);
        t.grid.PaintGrid(painter, c.region);
        std::vector<std::pair<int, int>> seen;
        for (const HookCall& call : calls)
            seen.push_back({call.dataCol, call.recordNumber});
        EXPECT_EQ(seen, c.cells) << c.name;
    }
}

TEST(GridPainting, HookErrorStopsThePaintRestoresTheRecordAndIsReported)
{
    GridOverStore t;
    t.store.MakeNumbers(10);
    t.Open("SELECT * FROM nums");
    t.query.MoveNext();
    int hookCalls = 0;
    t.grid.OnDrawColumnCell = [&](TCustomDataGrid*, const QRect&, int, TGridColumn*, TGridDrawState) {
        if (++hookCalls == 4)
            throw std::runtime_error("qry1: hook failed");
    };
    std::vector<std::string> reports;
    t.grid.OnError = [&](const std::exception& e) { reports.push_back(e.what()); };
    t.Shot();
    EXPECT_EQ(hookCalls, 4) << "the rest of the grid is not painted";
    EXPECT_EQ(reports, std::vector<std::string>{"qry1: hook failed"});
    EXPECT_EQ(t.query.RecordNumber(), 2);
    EXPECT_EQ(t.grid.DataLink().ActiveRecord(), 1);

    hookCalls = -100;
    t.Shot();
    EXPECT_GT(hookCalls, -100 + 20) << "a later paint paints anew";
}

TEST(GridPainting, DrawFieldTextAfterAHookThrewDoesNotUseTheEndedPaint)
{
    GridOverStore t;
    t.store.MakeNumbers(5);
    t.Open("SELECT * FROM nums");
    t.grid.OnDrawColumnCell = [](TCustomDataGrid*, const QRect&, int, TGridColumn*, TGridDrawState) {
        throw std::runtime_error("qry1: hook failed");
    };
    int reports = 0;
    t.grid.OnError = [&](const std::exception&) { ++reports; };
    t.Shot();
    ASSERT_EQ(reports, 1);
    EXPECT_EQ(t.grid.Canvas().Painter, nullptr) << "the canvas no longer holds the ended paint's painter";
    // Called outside any paint, as a late handler might: it has nothing to
    // draw on and must leave quietly.
    t.grid.DrawFieldText(QRect(0, 0, 50, 20), t.grid.Columns()[0].Field(), TGridDrawState{});

    // A hook that writes through DrawFieldText works again in the next paint.
    std::vector<HookCall> calls;
    InstallParityHook(t, calls);
    QImage shot = t.Shot();
    EXPECT_EQ(reports, 1);
    EXPECT_FALSE(calls.empty());
    EXPECT_GT(CountPixels(shot, shot.rect(), IsRed), 0);
}

TEST(GridPainting, AppendedRowShowsTheInsertGlyph)
{
    GridOverStore t;
    t.store.MakeNumbers(3);
    t.Open("SELECT * FROM nums");
    t.query.AppendRow();
    ASSERT_EQ(t.grid.DataLink().RecordCount(), 4);
    ASSERT_EQ(t.grid.Row(), 4) << "the new row is current";
    QImage shot = t.Shot();
    QRgb face = t.Palette(QPalette::Button);
    for (int row = 1; row <= 4; ++row) {
        QRect inner = t.grid.cellRect(0, row).adjusted(1, 1, -1, -1);
        int left = inner.x() + inner.width() - GridPainter::GlyphWidth - 1;
        int top = (inner.top() + inner.y() + inner.height() - GridPainter::GlyphHeight) / 2;
        const QImage& glyph = GridPainter::IndicatorGlyph(row == 4 ? 2 : 0);
        int mismatches = 0;
        for (int y = 0; y < GridPainter::GlyphHeight; ++y)
            for (int x = 0; x < GridPainter::GlyphWidth; ++x) {
                QRgb expected = row == 4 && qAlpha(glyph.pixel(x, y)) ? qRgb(0, 0, 0) : face;
                mismatches += shot.pixel(left + x, top + y) != expected;
            }
        EXPECT_EQ(mismatches, 0) << "row " << row;
    }
}

TEST(GridPainting, CellParamsAndRowColoursSetTheBackground)
{
    GridOverStore t;
    t.store.MakeNumbers(6);
    t.Open("SELECT * FROM nums");
    t.grid.SetOddRowColor(clSilver);
    t.grid.OnGetCellParams = [](TCustomDataGrid*, TGridColumn* Column, TFont&, TColor& Background,
                                TGridDrawState) {
        if (Column->FieldName() == "amount")
            Background = 0x00FFFF;  // yellow
    };
    QImage shot = t.Shot();
    for (int row = 2; row <= 5; ++row) {
        QRect id = t.grid.cellRect(1, row);
        QRect amount = t.grid.cellRect(3, row);
        QRgb expected = row % 2 != 0 ? qRgb(192, 192, 192) : t.Palette(QPalette::Base);
        EXPECT_EQ(shot.pixel(id.left() + 1, id.bottom() - 1), expected) << "row " << row;
        EXPECT_EQ(shot.pixel(amount.left() + 1, amount.bottom() - 1), qRgb(255, 255, 0)) << row;
    }
}

// ---------------------------------------------------------------------------
// Long texts: only what can show is handed to the text layout.

namespace {

bool HasLoneSurrogate(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && (i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate()))
            return true;
        if (text.at(i).isLowSurrogate() && (i == 0 || !text.at(i - 1).isHighSurrogate()))
            return true;
    }
    return false;
}

QString Repeated(const QString& unit, qsizetype times)
{
    QString text;
    text.reserve(unit.size() * times);
    for (qsizetype i = 0; i < times; ++i)
        text += unit;
    return text;
}

} // namespace

TEST(GridTextLayout, LongTextsAreCutToWhatTheirAlignmentShowsShortOnesStayWhole)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    const QFontMetrics metrics(font);
    const int room = 120;
    const QString digits = QStringLiteral("start") + Repeated(QStringLiteral("0123456789"), 1048576) +
                           QStringLiteral("end");
    const QString emoji = Repeated(QString::fromUtf8("\U0001F600a"), 500000);
    const QString marks = QStringLiteral("e") + Repeated(QString(QChar(0x0301)), 1000000);
    struct Case {
        const char* label;
        const QString& text;
        data::TAlignment alignment;
        bool cut;
    };
    const QString shortText = QStringLiteral("fits in a cell");
    const QString justLonger = Repeated(QStringLiteral("W"), 80);
    const Case cases[] = {
        {"short text, left", shortText, data::TAlignment::taLeftJustify, false},
        {"short text, right", shortText, data::TAlignment::taRightJustify, false},
        {"a little wider than the room", justLonger, data::TAlignment::taLeftJustify, false},
        {"ten million digits, left", digits, data::TAlignment::taLeftJustify, true},
        {"ten million digits, right", digits, data::TAlignment::taRightJustify, true},
        {"ten million digits, centred", digits, data::TAlignment::taCenter, true},
        {"surrogate pairs, left", emoji, data::TAlignment::taLeftJustify, true},
        {"surrogate pairs, right", emoji, data::TAlignment::taRightJustify, true},
        {"surrogate pairs, centred", emoji, data::TAlignment::taCenter, true},
        {"a million marks of no width", marks, data::TAlignment::taLeftJustify, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const QString piece = TextToLayOut(c.text, c.alignment, room, metrics);
        if (!c.cut) {
            EXPECT_EQ(piece, c.text);
            continue;
        }
        EXPECT_LE(piece.size(), LayoutBound(room) + 1);
        if (&c.text != &marks)
            EXPECT_GT(metrics.horizontalAdvance(piece), room) << "the piece still fills the room";
        else
            EXPECT_GE(piece.size(), LayoutBound(room)) << "held to the bound";
        EXPECT_FALSE(HasLoneSurrogate(piece));
        switch (c.alignment) {
        case data::TAlignment::taLeftJustify: EXPECT_TRUE(c.text.startsWith(piece)); break;
        case data::TAlignment::taRightJustify: EXPECT_TRUE(c.text.endsWith(piece)); break;
        default: EXPECT_TRUE(c.text.contains(piece)); break;
        }
        // From UTF-8, only a window of the bytes is turned into text at all;
        // the piece is the same.
        const QByteArray utf8 = c.text.toUtf8();
        EXPECT_EQ(TextToLayOut(std::string_view(utf8.constData(), std::size_t(utf8.size())), c.alignment, room,
                               metrics),
                  piece);
    }
    // A window of UTF-8 never starts or ends inside a character.
    const QByteArray chinese = Repeated(QString::fromUtf8("汉字"), 2000000).toUtf8();
    for (auto alignment : {data::TAlignment::taLeftJustify, data::TAlignment::taRightJustify,
                           data::TAlignment::taCenter}) {
        const QString piece =
            TextToLayOut(std::string_view(chinese.constData(), std::size_t(chinese.size())), alignment, room, metrics);
        EXPECT_FALSE(piece.contains(QChar::ReplacementCharacter));
        EXPECT_LE(piece.size(), LayoutBound(room) + 1);
    }
}

// A cell holding ten million characters paints exactly as one holding only
// their first few thousand: what lies beyond the cell is never laid out.
TEST(GridTextLayout, ATenMillionCharacterCellPaintsLikeItsStart)
{
    GridOverStore t(QSize(500, 200));
    t.store.Execute("CREATE TABLE big (id INTEGER, v VARCHAR(255))");
    // 1,048,576 zeros, each made ten digits.
    const std::string tenMillion = "replace(hex(zeroblob(524288)), '0', '0123456789')";
    t.store.Execute("INSERT INTO big VALUES (1, 'start' || " + tenMillion + ")");
    t.store.Execute("INSERT INTO big VALUES (2, 'start' || substr(" + tenMillion + ", 1, 3000))");
    t.store.Execute("INSERT INTO big VALUES (3, 'x')");
    t.Open("SELECT * FROM big");
    t.query.MoveRows(2);  // the current cell out of the way
    ASSERT_EQ(t.query.FieldNamed("v").DisplayText().size(), 1u);
    t.query.MoveFirst();
    ASSERT_EQ(t.query.FieldNamed("v").DisplayText().size(), 10485765u);
    t.query.MoveRows(2);
    std::vector<HookCall> calls;
    for (bool hook : {false, true}) {
        SCOPED_TRACE(hook ? "through the draw hook" : "the grid's own painting");
        if (hook)
            InstallParityHook(t, calls);
        const QImage shot = t.Shot();
        const QRect first = t.grid.cellRect(2, 1) & shot.rect();
        const QRect second = t.grid.cellRect(2, 2) & shot.rect();
        ASSERT_FALSE(first.isEmpty());
        QImage a = shot.copy(first), b = shot.copy(second);
        if (hook) {
            // Red against blue: compare where the text is, not its colour.
            for (QImage* image : {&a, &b})
                for (int y = 0; y < image->height(); ++y)
                    for (int x = 0; x < image->width(); ++x)
                        image->setPixel(x, y, IsRed(image->pixel(x, y)) || IsBlue(image->pixel(x, y)) ? 1 : 0);
        }
        EXPECT_EQ(a, b);
        EXPECT_GT(CountOther(shot, first, t.Palette(QPalette::Base)), 20) << "the cell shows its text";
    }
}
