#pragma once
// Small value types shared by the grid classes, their painting and the
// windows that handle grid events: sets of options and cell states, fonts
// with a colour, and the canvas a draw hook paints on.

#include "grid/GridColors.h"

#include <QFont>

#include <cstdint>
#include <initializer_list>

class QPainter;

namespace querlin::grid {

// A set over a small enumeration (at most 32 members), used like the option
// and state sets of the grid: `options.Contains(dgTitles)`, `state + gdSelected`.
template <typename Enum>
class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<Enum> items)
    {
        for (Enum item : items)
            bits_ |= Bit(item);
    }
    constexpr bool Contains(Enum item) const { return (bits_ & Bit(item)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr TSet operator+(Enum item) const { TSet s = *this; s.bits_ |= Bit(item); return s; }
    constexpr TSet operator-(Enum item) const { TSet s = *this; s.bits_ &= ~Bit(item); return s; }
    constexpr TSet operator+(TSet other) const { TSet s = *this; s.bits_ |= other.bits_; return s; }
    constexpr TSet operator-(TSet other) const { TSet s = *this; s.bits_ &= ~other.bits_; return s; }
    constexpr TSet operator*(TSet other) const { TSet s = *this; s.bits_ &= other.bits_; return s; }
    TSet& operator+=(Enum item) { bits_ |= Bit(item); return *this; }
    TSet& operator-=(Enum item) { bits_ &= ~Bit(item); return *this; }
    constexpr bool operator==(const TSet&) const = default;

private:
    static constexpr std::uint32_t Bit(Enum item) { return std::uint32_t(1) << unsigned(item); }
    std::uint32_t bits_ = 0;
};

// Windows virtual-key codes, which the grid's key events carry (the browser
// window's handlers compare against them); letters and digits are their
// capital ASCII codes, F1 ... F24 run on from vkF1.
enum TVirtualKey : std::uint16_t {
    vkNone = 0,
    vkBack = 8,
    vkTab = 9,
    vkReturn = 13,
    vkShift = 16,
    vkControl = 17,
    vkMenu = 18,  // Alt
    vkPause = 19,
    vkCapital = 20,
    vkEscape = 27,
    vkSpace = 32,
    vkPrior = 33,  // Page Up
    vkNext = 34,   // Page Down
    vkEnd = 35,
    vkHome = 36,
    vkLeft = 37,
    vkUp = 38,
    vkRight = 39,
    vkDown = 40,
    vkInsert = 45,
    vkDelete = 46,
    vkF1 = 0x70,
    vkOemSemicolon = 186,  // ; and :
    vkOemPlus = 187,       // = and +
    vkOemComma = 188,
    vkOemMinus = 189,
    vkOemPeriod = 190,
    vkOemSlash = 191,      // / and ?
    vkOemBackquote = 192,  // ` and ~
    vkOemOpenBracket = 219,
    vkOemBackslash = 220,
    vkOemCloseBracket = 221,
    vkOemQuote = 222,
};

// The modifier keys held with a key or a click.
enum TShiftStateItem { ssShift, ssAlt, ssCtrl };
using TShiftState = TSet<TShiftStateItem>;

// The modifier keys of a Qt key or mouse event.
inline TShiftState ShiftOf(Qt::KeyboardModifiers modifiers)
{
    TShiftState shift;
    if (modifiers & Qt::ShiftModifier)
        shift += ssShift;
    if (modifiers & Qt::AltModifier)
        shift += ssAlt;
    if (modifiers & Qt::ControlModifier)
        shift += ssCtrl;
    return shift;
}

// The mouse button of a press or a release.
enum class TMouseButton { mbLeft, mbRight, mbMiddle };

// What the cell grid is doing with the mouse: nothing, column sizing or
// column moving. Rows are neither sized nor moved and nothing is selected by
// dragging.
enum class TGridState { gsNormal, gsColSizing, gsColMoving };

enum TGridDrawStateItem { gdSelected, gdFocused, gdFixed };
using TGridDrawState = TSet<TGridDrawStateItem>;

// Options of the data grid.
enum TDataGridOption {
    dgEditing, dgAlwaysShowEditor, dgTitles, dgIndicator, dgColumnResize, dgColLines,
    dgRowLines, dgTabs, dgRowSelect, dgAlwaysShowSelection, dgConfirmDelete,
    dgCancelOnExit, dgMultiSelect,
};
using TDataGridOptions = TSet<TDataGridOption>;

enum TDataGridOptionEx {
    dgxFixed3D, dgxHighlightFocus, dgxClearSelection, dgxDialogFind, dgxFitRowHeightToText,
};
using TDataGridOptionsEx = TSet<TDataGridOptionEx>;

// Options of the cell grid, which the data grid's options are translated into.
enum TGridOption {
    goFixedVertLine, goFixedHorzLine, goVertLine, goHorzLine, goRangeSelect,
    goColSizing, goColMoving, goEditing, goTabs, goRowSelect, goAlwaysShowEditor,
};
using TGridOptions = TSet<TGridOption>;

// The cell grid's own scroll bars: the horizontal one or none (the vertical
// bar follows the row window).
enum class TScrollStyle { ssNone, ssHorizontal };

enum class TScrollBarVisibleMode { sbAutoShow, sbAlwaysShow, sbNeverShow };

// The settings of one of a data grid's scroll bars. Tracking: a dragged
// thumb moves the view at once, not only when it is released.
struct TScrollBarSettings {
    bool Visible = true;
    bool Tracking = false;
    TScrollBarVisibleMode VisibleMode = TScrollBarVisibleMode::sbAutoShow;
};

enum class TTextLayout { tlTop, tlCenter, tlBottom };

// A font with its colour, as cells and titles are painted with it.
struct TFont {
    QFont Font;
    TColor Color = clWindowText;
    bool operator==(const TFont&) const = default;
};

struct TBrush {
    TColor Color = clWindow;
};

// What a draw hook paints with. It holds the font and brush the grid's own
// painting left for the cell; a hook may change them, and they stay changed
// for the rest of that cell only. Painter is the device being painted and is
// valid only while the grid paints.
struct TCanvas {
    TFont Font;
    TBrush Brush;
    QPainter* Painter = nullptr;
};

} // namespace querlin::grid
