#include "CHMsgHeader.h"

#include "hex.h"

#include <chrono>

namespace tovik {

namespace {
uint8_t byteAt(std::string_view hex, std::size_t i) {
    if (hex.size() < 2 * i + 2)
        return 0;
    const int hi = hexDigitValue(hex[2 * i]);
    const int lo = hexDigitValue(hex[2 * i + 1]);
    if (hi < 0 || lo < 0)
        return 0;
    return static_cast<uint8_t>(hi * 16 + lo);
}
} // namespace

CHMsgHeader::CHMsgHeader(std::string_view hex) {
    uint8_t b[10];
    for (std::size_t i = 0; i < 10; ++i)
        b[i] = byteAt(hex, i);
    RBit = (b[0] & 0x80) ? 1 : 0;
    DeviceID = static_cast<uint16_t>(((b[0] & 0x7f) << 8) | b[1]);
    WBit = (b[2] & 0x80) ? 1 : 0;
    Stream = static_cast<uint16_t>(b[2] & 0x7f);
    Function = b[3];
    EBit = (b[4] & 0x80) ? 1 : 0;
    BlockNumber = static_cast<uint16_t>(((b[4] & 0x7f) << 8) | b[5]);
    SystemHigh = static_cast<uint16_t>((b[6] << 8) | b[7]);
    SystemLow = static_cast<uint16_t>((b[8] << 8) | b[9]);
}

uint32_t TickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string HeaderAsBinaryItem(std::string_view hex) {
    std::string sml = "<b";
    for (std::size_t i = 0; i < 10; ++i) {
        sml += " 0x";
        if (2 * i + 1 < hex.size())
            sml.append(hex.substr(2 * i, 2));
        else
            sml += "00";
    }
    sml += '>';
    return sml;
}

} // namespace tovik
