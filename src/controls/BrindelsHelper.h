// LimitFontHeight of the unit BrindelsHelper.
#pragma once

#include <QString>
#include <cstdint>
#include <string_view>

#include "controls/Font.h"

namespace controls {

// Shrinks `font` until `text` fits a box of `maxWidth` x `maxHeight` pixels and returns the
// fitted font's Height. A styled font first loses all its styles (height unchanged), then the
// Height drops by 1 until the text extent (advance width of the one-line text, cell height)
// is no larger than the box; a text exactly as wide or high as the box fits. A text that fits
// at once leaves the font unchanged.
//
// Preconditions, checked in this order with platform::BDAssert:
//   maxHeight > 0  "UHelper: IntMaxHeight ist nicht gesetzt!"
//   maxWidth > 0   "UHelper: LimitFontHeight: IntMaxWidth ist nicht gesetzt!"
//   font.Size() > 0 or font.Height > 0   "FontHeight oder FontSize sollten > 0 sein!"
//
// Choices of this implementation: the height never goes below 1 (a text that does not fit even
// then returns 1 with the font at height 1); a negative (character) height is first turned into
// the positive cell height it draws with, so that shrinking never enlarges the font.
int32_t LimitFontHeight(const QString& text, TFont& font, int32_t maxWidth, int32_t maxHeight);
// The same for 8-bit text of the font's character set.
int32_t LimitFontHeight(std::string_view text, TFont& font, int32_t maxWidth, int32_t maxHeight);

}  // namespace controls
