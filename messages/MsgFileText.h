#pragma once
// Text operations of the message file: what the writer trims, how high bytes
// pass the 7-bit parser, and how body and comment lines are normalised.
#include <string>
#include <string_view>

namespace tovik {

// Removes CR LF pairs from the end while the text ends with one; a lone
// trailing LF or CR stays.
std::string TrimTrailingCrLf(std::string_view text);

// Every byte 0x80..0xFF becomes "\x" and two lower-case hex digits.
std::string EscapeHighBytes(std::string_view text);

// "\x" followed by two hex digits (either case) becomes the byte they spell;
// everything else is copied as it stands.
std::string UnescapeHex(std::string_view text);

// How a text that no line feed ends is treated at its end.
enum class LastLine { Drop, Keep };

// CRs are dropped, empty lines vanish, every kept line ends with CR LF. Body
// texts drop an unterminated last line, comments keep it.
std::string NormalizeLines(std::string_view text, LastLine last);

} // namespace tovik
