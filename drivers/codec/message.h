#pragma once
// The codec's in-memory message: the ten header bytes and the body as a flat
// pre-order array of items whose values sit in one shared byte buffer, in wire
// order (big-endian). A flat array keeps decode, encode and printing iterative,
// so no input can drive the stack deeper than kMaxDepth list levels.
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
    uint32_t offset = 0; // others: where the value bytes start in Message::data
    uint32_t end = 0;    // index one past this item's last descendant
};

struct Message {
    std::array<uint8_t, 10> header{};
    bool hsms = false;             // bytes 4-5 are PType/SType, not E-bit/block
    bool hasStreamFunction = true; // false for SML without "sXfY" (a bare "<b 0>")
    std::vector<Item> items;       // items[0] is the body; empty: no body
    std::vector<uint8_t> data;
};

// True for formats whose values are fixed-size elements (binary, boolean, numbers).
bool isArrayFormat(Format f);
bool isTextFormat(Format f); // ASCII, JIS-8
// Size of one element: 1 for binary, boolean and texts, 2 for 2-byte characters.
std::size_t elementSize(Format f);
// Whether the 6-bit code names a known format.
bool isKnownFormat(uint8_t code);
// The SML type code, lower case ("u4", "bool", "a", ...).
const char* smlCode(Format f);
// Format of an SML type code, case-insensitive; false when unknown.
bool formatFromCode(std::string_view code, Format& out);

// Bytes <-> items.
Result<bool> decodeBody(const uint8_t* bytes, std::size_t size, Message& msg);
void encodeBody(const Message& msg, std::vector<uint8_t>& out);
std::size_t encodedBodySize(const Message& msg);

// The n-th element of an array item as text (decimal; floats shortest exact).
std::string elementText(const Message& msg, const Item& item, std::size_t n);

// SML text <-> message. Parsing sets header bytes 2-3, hasStreamFunction and
// the items; the caller fills the rest of the header.
std::string printSml(const Message& msg);
Result<bool> parseSml(std::string_view text, Message& msg);

} // namespace tovik::secs2
