// Items -> binary body. The items are already in wire order, so encoding is a
// single pass writing each item's format byte, its shortest length field and
// its value bytes.
#include "message.h"

#include <cstring>

namespace tovik::secs2 {

namespace {

std::size_t lengthBytes(std::size_t length) {
    return length <= 0xff ? 1 : length <= 0xffff ? 2 : 3;
}

} // namespace

std::size_t encodedBodySize(const Message& msg) {
    std::size_t total = 0;
    for (const auto& item : msg.items)
        total += 1 + lengthBytes(item.size) + (item.format == Format::List ? 0 : item.size);
    return total;
}

void encodeBody(const Message& msg, std::vector<uint8_t>& out) {
    const std::size_t start = out.size();
    out.resize(start + encodedBodySize(msg));
    uint8_t* p = out.data() + start;
    for (const auto& item : msg.items) {
        const std::size_t n = lengthBytes(item.size);
        *p++ = static_cast<uint8_t>((static_cast<unsigned>(item.format) << 2) | n);
        for (std::size_t i = n; i-- > 0;)
            *p++ = static_cast<uint8_t>(item.size >> (8 * i));
        if (item.format != Format::List && item.size > 0) {
            std::memcpy(p, msg.data.data() + item.offset, item.size);
            p += item.size;
        }
    }
}

} // namespace tovik::secs2
