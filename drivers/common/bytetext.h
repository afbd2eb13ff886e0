#pragma once
// Names, comments and message texts are 8-bit bytes, whatever code page the
// document was written in. On their way to a window they become characters:
// valid UTF-8 shows as its characters, and every other byte (Latin-1, the
// halves of Shift-JIS characters) becomes a code point of its own, a lone
// surrogate U+DC80..U+DCFF, that turns back into that very byte. So bytes ->
// text -> bytes gives the same bytes for any input, and what a user types is
// stored as UTF-8.
#include <string>
#include <string_view>

namespace tovik {

std::u16string BytesToUtf16(std::string_view bytes);
std::string Utf16ToBytes(std::u16string_view text);

} // namespace tovik
