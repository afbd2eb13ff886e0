#pragma once
// The codec's in-memory message: the ten header bytes, the body exactly as it
// goes on the wire (format bytes, shortest length fields, big-endian values)
// and a flat pre-order index of its items pointing into those bytes. Keeping
// the wire bytes makes encoding a copy and decoding a copy plus one scan; the
// flat index keeps decode, encode and printing iterative, so no input can
// drive the stack deeper than kMaxDepth list levels.
#include "result.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tovik::secs2 {

// Item format codes (the upper six bits of an item's format byte).
enum class Format : uint8_t {
    List = 000,
    Binary = 010,
    Boolean = 011,
    Ascii = 020,
    Jis8 = 021,
    Unicode = 022, // 2-byte characters
    I8 = 030,
    I1 = 031,
    I2 = 032,
    I4 = 034,
    F8 = 040,
    F4 = 044,
    U8 = 050,
    U1 = 051,
    U2 = 052,
    U4 = 054,
};

inline constexpr std::size_t kMaxDepth = 128;              // nested list levels
inline constexpr std::size_t kMaxItemLength = 0xffffff;    // 3 length bytes
inline constexpr std::size_t kMaxBodySize = 64u << 20;     // 64 MiB

struct Item {
    Format format = Format::List;
    uint32_t size = 0;   // list: element count; others: value bytes
    uint32_t offset = 0; // where the value bytes start in Message::data (lists: their first element)
    uint32_t end = 0;    // index one past this item's last descendant
};

struct Message {
    std::array<uint8_t, 10> header{};
    bool hsms = false;             // bytes 4-5 are PType/SType, not E-bit/block
    bool hasStreamFunction = true; // false for SML without "sXfY" (a bare "<b 0>")
    std::vector<Item> items;       // items[0] is the body; empty: no body
    std::vector<uint8_t> data;     // the encoded body; empty when items is
};

namespace detail {
// Element size of each 6-bit format code; 0 for codes that name no format.
inline constexpr std::array<uint8_t, 64> kElementSize = [] {
    std::array<uint8_t, 64> t{};
    for (uint8_t c : {000, 010, 011, 020, 021, 051})
        t[c] = 1;
    for (uint8_t c : {022, 032, 052})
        t[c] = 2;
    for (uint8_t c : {034, 044, 054})
        t[c] = 4;
    for (uint8_t c : {030, 040, 050})
        t[c] = 8;
    t[031] = 1;
    return t;
}();
} // namespace detail

// True for formats whose values are fixed-size elements (binary, boolean, numbers).
inline bool isTextFormat(Format f) { // ASCII, JIS-8
    return f == Format::Ascii || f == Format::Jis8;
}
inline bool isArrayFormat(Format f) {
    return f != Format::List && !isTextFormat(f) && f != Format::Unicode;
}
// Size of one element: 1 for binary, boolean and texts, 2 for 2-byte characters.
inline std::size_t elementSize(Format f) {
    const uint8_t e = detail::kElementSize[static_cast<uint8_t>(f) & 63u];
    return e ? e : 1;
}
// Whether the 6-bit code names a known format.
inline bool isKnownFormat(uint8_t code) {
    return code < 64 && detail::kElementSize[code] != 0;
}
// The SML type code, lower case ("u4", "bool", "a", ...).
const char* smlCode(Format f);
// Format of an SML type code, case-insensitive; false when unknown.
bool formatFromCode(std::string_view code, Format& out);

// Number of length bytes an item of this length is written with.
inline std::size_t lengthBytes(std::size_t length) {
    return length <= 0xff ? 1 : length <= 0xffff ? 2 : 3;
}

// Bytes -> items. The first form copies the body; the second takes the body
// already in msg.data. Length fields longer than needed are accepted and
// shortened in msg.data, so that encoding always writes the shortest ones.
Result<bool> decodeBody(const uint8_t* bytes, std::size_t size, Message& msg);
Result<bool> decodeBody(Message& msg);
// Items -> bytes: appends the encoded body to `out`.
void encodeBody(const Message& msg, std::vector<uint8_t>& out);
std::size_t encodedBodySize(const Message& msg);
// Rewrites msg.data in wire form from items whose offsets point at their bare
// value bytes in msg.data (as a parser leaves them), shortest length fields.
void layoutBody(Message& msg);

// The n-th element of an array item as text (decimal; floats shortest exact).
std::string elementText(const Message& msg, const Item& item, std::size_t n);
// The same text of the element whose bytes start at p, written at `out`
// (room for kMaxElementText characters); returns the end of the text.
inline constexpr std::size_t kMaxElementText = 32;
char* writeElementText(char* out, const uint8_t* p, Format f);

// SML text <-> message. Parsing sets header bytes 2-3, hasStreamFunction and
// the items; the caller fills the rest of the header.
std::string printSml(const Message& msg);
Result<bool> parseSml(std::string_view text, Message& msg);

} // namespace tovik::secs2
