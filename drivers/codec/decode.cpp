// Binary body -> items. Iterative with an explicit stack of open lists, so the
// nesting a message may claim is bounded by kMaxDepth, not by our stack. Every
// length is checked against the bytes actually present before it is used.
#include "message.h"

#include <cstdio>

namespace tovik::secs2 {

namespace {

Error fault(std::size_t at, const std::string& what) {
    return Error{what + " at body byte " + std::to_string(at), at, false};
}

} // namespace

Result<bool> decodeBody(const uint8_t* b, std::size_t size, Message& msg) {
    msg.items.clear();
    msg.data.clear();
    if (size == 0)
        return true;
    if (size > kMaxBodySize)
        return Error{"body of " + std::to_string(size) + " bytes exceeds the limit of " +
                         std::to_string(kMaxBodySize) + " bytes",
                     0, false};
    msg.data.reserve(size);

    struct Open {
        std::size_t index;
        std::size_t remaining;
    };
    std::vector<Open> open;
    std::size_t pos = 0;
    auto fail = [&](Error e) -> Result<bool> {
        msg.items.clear();
        msg.data.clear();
        return e;
    };

    do {
        const std::size_t start = pos;
        if (pos >= size)
            return fail(fault(start, "item runs past the end of the body"));
        const uint8_t formatByte = b[pos++];
        const uint8_t code = formatByte >> 2;
        const std::size_t lengthBytes = formatByte & 3u;
        if (!isKnownFormat(code)) {
            char oct[8];
            std::snprintf(oct, sizeof oct, "%o", static_cast<unsigned>(code));
            return fail(fault(start, std::string("unknown item format ") + oct));
        }
        if (lengthBytes == 0)
            return fail(fault(start, "item without length bytes"));
        if (size - pos < lengthBytes)
            return fail(fault(start, "item length runs past the end of the body"));
        std::size_t length = 0;
        for (std::size_t i = 0; i < lengthBytes; ++i)
            length = (length << 8) | b[pos++];
        if (!open.empty())
            --open.back().remaining;

        Item item;
        item.format = static_cast<Format>(code);
        item.size = static_cast<uint32_t>(length);
        const std::size_t index = msg.items.size();
        if (item.format == Format::List) {
            // Every element takes at least two bytes.
            if (length > (size - pos) / 2)
                return fail(fault(start, "list claims " + std::to_string(length) +
                                             " elements but only " +
                                             std::to_string(size - pos) + " bytes follow"));
            if (length > 0 && open.size() >= kMaxDepth)
                return fail(fault(start, "lists nested deeper than " +
                                             std::to_string(kMaxDepth) + " levels"));
            item.end = static_cast<uint32_t>(index + 1);
            msg.items.push_back(item);
            if (length > 0)
                open.push_back({index, length});
        } else {
            if (length > size - pos)
                return fail(fault(start, std::string(smlCode(item.format)) + " item claims " +
                                             std::to_string(length) + " bytes but only " +
                                             std::to_string(size - pos) + " follow"));
            const std::size_t es = elementSize(item.format);
            if (length % es != 0)
                return fail(fault(start, std::to_string(length) + "-byte " +
                                             smlCode(item.format) +
                                             " item is not a whole number of " +
                                             std::to_string(es) + "-byte values"));
            item.offset = static_cast<uint32_t>(msg.data.size());
            item.end = static_cast<uint32_t>(index + 1);
            msg.data.insert(msg.data.end(), b + pos, b + pos + length);
            pos += length;
            msg.items.push_back(item);
        }
        while (!open.empty() && open.back().remaining == 0) {
            msg.items[open.back().index].end = static_cast<uint32_t>(msg.items.size());
            open.pop_back();
        }
    } while (!open.empty());

    if (pos != size)
        return fail(fault(pos, std::to_string(size - pos) + " bytes follow the body item"));
    return true;
}

} // namespace tovik::secs2
