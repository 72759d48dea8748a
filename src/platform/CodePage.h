// Code pages of 8-bit texts. Texts stay bytes everywhere; they are decoded only for display.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The Windows code page of a font character set number ("Charset" of a language file):
// 0 and 1 -> 1252, 204 -> 1251, ...; an unknown or out-of-range number gives 1252. The symbol
// character set (2) gives 42, the system's CP_SYMBOL.
int CharsetToCodePage(int charset);

// Decodes `bytes` of Windows code page `codePage` to UTF-8. Bytes that the code page does not
// define are replaced by U+FFFD. Code page 42 (symbol) maps bytes from 0x20 up to U+F020..U+F0FF
// as the system does; a code page not listed in CharsetToCodePage decodes as 1252.
// Thread-safe.
std::string DecodeCodePage(std::string_view bytes, int codePage);

}  // namespace platform
