#pragma once
// Colour values of the grids and how the named system colours map onto the
// platform's palette.
//
// A TColor is a 24-bit value with red in the low byte (255 is red, 0xFF0000
// blue), or one of the named system colours below, which carry a mark in the
// top byte and are looked up in the palette each time they are painted, so a
// change of the desktop's colours shows at the next paint.
//
// The system colours come from the widget's QPalette:
//   clWindow        -> Base             (background of data cells)
//   clWindowText    -> Text
//   clBtnFace       -> Button           (title row and indicator column)
//   clBtnShadow     -> Dark             (the lower right edge of a raised cell
//                                        and the unfocused selection; Dark,
//                                        not Mid: against Button only the
//                                        darker grey makes the edge read as
//                                        raised)
//   clBtnHighlight  -> Light            (the upper left edge of a raised cell)
//   clHighlight     -> Highlight
//   clHighlightText -> HighlightedText
// clBlack, clGray and clSilver are fixed colours, not looked up.

#include <QColor>
#include <QPalette>

#include <cstdint>

namespace querlin::grid {

using TColor = std::uint32_t;

constexpr TColor kSystemColorMark = 0xFF000000u;

constexpr TColor clBlack = 0x000000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clBlue = 0xFF0000;

constexpr TColor clWindow = kSystemColorMark | 1;
constexpr TColor clWindowText = kSystemColorMark | 2;
constexpr TColor clBtnFace = kSystemColorMark | 3;
constexpr TColor clBtnShadow = kSystemColorMark | 4;
constexpr TColor clBtnHighlight = kSystemColorMark | 5;
constexpr TColor clHighlight = kSystemColorMark | 6;
constexpr TColor clHighlightText = kSystemColorMark | 7;

inline bool IsSystemColor(TColor color) { return (color & kSystemColorMark) == kSystemColorMark; }

// The colour as painted with the given palette.
inline QColor ResolveColor(TColor color, const QPalette& palette)
{
    if (!IsSystemColor(color))
        return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
    switch (color) {
    case clWindow: return palette.color(QPalette::Active, QPalette::Base);
    case clWindowText: return palette.color(QPalette::Active, QPalette::Text);
    case clBtnFace: return palette.color(QPalette::Active, QPalette::Button);
    case clBtnShadow: return palette.color(QPalette::Active, QPalette::Dark);
    case clBtnHighlight: return palette.color(QPalette::Active, QPalette::Light);
    case clHighlight: return palette.color(QPalette::Active, QPalette::Highlight);
    case clHighlightText: return palette.color(QPalette::Active, QPalette::HighlightedText);
    default: return QColor(Qt::black);
    }
}

} // namespace querlin::grid
