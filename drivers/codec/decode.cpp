// Binary body -> items. Iterative with a fixed stack of open lists, so the
// nesting a message may claim is bounded by kMaxDepth, not by our stack. Every
// length is checked against the bytes actually present before it is used.
//
// The body bytes stay in msg.data as they are; the scan only writes the item
// index. Only a body with a longer length field than needed is rewritten, so
// that msg.data is always what encoding writes.
#include "message.h"

#include <cstdio>

namespace tovik::secs2 {

namespace {

Error fault(std::size_t at, const std::string& what) {
    return Error{what + " at body byte " + std::to_string(at), at, false};
}

// Builds the item index of the body in msg.data. Sets `longLengths` when
// some length field is longer than needed.
Result<bool> index(Message& msg, bool& longLengths) {
    const uint8_t* const b = msg.data.data();
    const std::size_t size = msg.data.size();
    auto& items = msg.items;

    struct Open {
        std::size_t index;
        std::size_t remaining;
    };
    Open open[kMaxDepth + 1];
    std::size_t depth = 0;
    std::size_t pos = 0;
    bool longer = false;

    do {
        const std::size_t start = pos;
        if (pos >= size)
            return fault(start, "item runs past the end of the body");
        const uint8_t formatByte = b[pos++];
        const uint8_t code = formatByte >> 2;
        const std::size_t nLength = formatByte & 3u;
        const std::size_t es = detail::kElementSize[code];
        if (es == 0) {
            char oct[8];
            std::snprintf(oct, sizeof oct, "%o", static_cast<unsigned>(code));
            return fault(start, std::string("unknown item format ") + oct);
        }
        if (nLength == 0)
            return fault(start, "item without length bytes");
        if (size - pos < nLength)
            return fault(start, "item length runs past the end of the body");
        std::size_t length = b[pos];
        for (std::size_t i = 1; i < nLength; ++i)
            length = (length << 8) | b[pos + i];
        pos += nLength;
        longer |= nLength != lengthBytes(length);
        if (depth > 0)
            --open[depth - 1].remaining;

        const auto format = static_cast<Format>(code);
        const std::size_t at = items.size();
        if (format == Format::List) {
            // Every element takes at least two bytes.
            if (length > (size - pos) / 2)
                return fault(start, "list claims " + std::to_string(length) +
                                        " elements but only " + std::to_string(size - pos) +
                                        " bytes follow");
            if (depth >= kMaxDepth) // an empty list counts too, as in SML
                return fault(start, "lists nested deeper than " + std::to_string(kMaxDepth) +
                                        " levels");
            items.push_back({format, static_cast<uint32_t>(length), static_cast<uint32_t>(pos),
                             static_cast<uint32_t>(at + 1)});
            if (length > 0)
                open[depth++] = {at, length};
        } else {
            if (length > size - pos)
                return fault(start, std::string(smlCode(format)) + " item claims " +
                                        std::to_string(length) + " bytes but only " +
                                        std::to_string(size - pos) + " follow");
            if (length % es != 0)
                return fault(start, std::to_string(length) + "-byte " + smlCode(format) +
                                        " item is not a whole number of " + std::to_string(es) +
                                        "-byte values");
            items.push_back({format, static_cast<uint32_t>(length), static_cast<uint32_t>(pos),
                             static_cast<uint32_t>(at + 1)});
            pos += length;
        }
        while (depth > 0 && open[depth - 1].remaining == 0) {
            items[open[depth - 1].index].end = static_cast<uint32_t>(items.size());
            --depth;
        }
    } while (depth > 0);

    if (pos != size)
        return fault(pos, std::to_string(size - pos) + " bytes follow the body item");
    longLengths = longer;
    return true;
}

} // namespace

Result<bool> decodeBody(Message& msg) {
    msg.items.clear();
    if (msg.data.empty())
        return true;
    if (msg.data.size() > kMaxBodySize) {
        const std::size_t size = msg.data.size();
        msg.data.clear();
        return Error{"body of " + std::to_string(size) + " bytes exceeds the limit of " +
                         std::to_string(kMaxBodySize) + " bytes",
                     0, false};
    }
    bool longLengths = false;
    auto r = index(msg, longLengths);
    if (!r) {
        msg.items.clear();
        msg.data.clear();
        return r;
    }
    if (longLengths)
        layoutBody(msg);
    return true;
}

Result<bool> decodeBody(const uint8_t* b, std::size_t size, Message& msg) {
    msg.items.clear();
    msg.data.clear();
    if (size > kMaxBodySize)
        return Error{"body of " + std::to_string(size) + " bytes exceeds the limit of " +
                         std::to_string(kMaxBodySize) + " bytes",
                     0, false};
    msg.data.assign(b, b + size);
    return decodeBody(msg);
}

} // namespace tovik::secs2
