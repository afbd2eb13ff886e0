// Items -> binary body. A message keeps its body in wire form, so encoding
// is a copy; layoutBody puts a parser's bare values into that form in one
// pass, writing each item's format byte, its shortest length field and its
// value bytes.
#include "message.h"

#include <cstring>

namespace tovik::secs2 {

std::size_t encodedBodySize(const Message& msg) {
    return msg.data.size();
}

void encodeBody(const Message& msg, std::vector<uint8_t>& out) {
    out.insert(out.end(), msg.data.begin(), msg.data.end());
}

void layoutBody(Message& msg) {
    std::size_t total = 0;
    for (const auto& item : msg.items)
        total += 1 + lengthBytes(item.size) + (item.format == Format::List ? 0 : item.size);
    std::vector<uint8_t> wire(total);
    uint8_t* const base = wire.data();
    uint8_t* p = base;
    for (auto& item : msg.items) {
        const std::size_t n = lengthBytes(item.size);
        *p++ = static_cast<uint8_t>((static_cast<unsigned>(item.format) << 2) | n);
        for (std::size_t i = n; i-- > 0;)
            *p++ = static_cast<uint8_t>(item.size >> (8 * i));
        const auto offset = static_cast<uint32_t>(p - base);
        if (item.format != Format::List && item.size > 0) {
            std::memcpy(p, msg.data.data() + item.offset, item.size);
            p += item.size;
        }
        item.offset = offset;
    }
    msg.data.swap(wire);
}

} // namespace tovik::secs2
