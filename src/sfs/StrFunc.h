// Name comparison of the directory: a fixed case-insensitive comparison of 8-bit Windows-1252
// text, the same on every machine (no locale is consulted).
#pragma once

#include <cstdint>
#include <string_view>

namespace sfs {

// The upper-case form of a Windows-1252 character (letters with a case partner only).
uint8_t AnsiUpperChar(uint8_t c);

// < 0, 0 or > 0 as A sorts before, equal to or after B, ignoring case. Characters compare by
// their upper-case code; a prefix sorts first.
int AnsiCompTextNoCase(std::string_view A, std::string_view B);

inline bool AnsiSameTextNoCase(std::string_view A, std::string_view B) { return AnsiCompTextNoCase(A, B) == 0; }

}  // namespace sfs
