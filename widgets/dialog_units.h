#pragma once

#include <QFont>
#include <QRect>

namespace lumiclip {

// Dialogs are laid out in dialog units, as their templates give them: a horizontal unit is a quarter of
// the dialog font's average character width, a vertical unit an eighth of its height.
struct DialogBaseUnits {
    int averageCharWidth = 0;  // pixels per 4 horizontal dialog units
    int charHeight = 0;        // pixels per 8 vertical dialog units
};

// The base units of a font: the average width is (width of "A..Za..z" / 26 + 1) / 2, the height the
// font's line height.
DialogBaseUnits DialogBaseUnitsFor(const QFont& font);

// Converts one coordinate; each is rounded to the nearest pixel on its own (halves away from zero),
// as the dialog templates' controls are placed.
int DialogXToPixels(int x, const DialogBaseUnits& units);
int DialogYToPixels(int y, const DialogBaseUnits& units);

// Maps a rectangle in dialog units (x, y, width, height) to pixels for the given base units or font.
QRect DialogRectToPixels(const QRect& dialogUnits, const DialogBaseUnits& units);
QRect DialogRectToPixels(const QRect& dialogUnits, const QFont& font);

// The font every dialog template names: "宋体" at 9 points. Linux rarely has it, so the family list
// falls back to SimSun, then Noto Serif CJK SC, then a sans-serif face with simplified-Chinese glyphs.
QFont DialogFont();

// Han characters have Japanese, Traditional and Simplified Chinese glyph forms, and under a non-Chinese
// locale (C.UTF-8, say) fontconfig's fallback prefers the Japanese ones. Tells fontconfig that text is
// simplified Chinese (FC_LANG=zh-cn) unless the user has set FC_LANG. Call before the application object
// exists, since fontconfig reads it once.
void UseSimplifiedChineseFontFallback();

}  // namespace lumiclip
