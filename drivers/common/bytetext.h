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

// Characters outside text must not bring to a log line or a terminal as
// themselves: C0 controls and DEL, the C1 range (a CSI among them) and the
// line and paragraph separators, which a list view breaks a line at.
constexpr bool IsControlChar(char16_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029;
}

// Outside text (a host's data, a name, a file name, a script's words) for a
// log line or a terminal: every control character becomes "\x" and the hex
// of its UTF-8 bytes, the way received text items print, so the text can
// neither start a line of its own nor send a terminal escape sequence. Tabs
// stay when `keepTabs` (message bodies indent with them).
std::u16string EscapeControls(std::u16string_view text, bool keepTabs = false);
// The same over bytes; bytes that are not UTF-8 pass as they are.
std::string EscapeControlBytes(std::string_view bytes);

} // namespace tovik
