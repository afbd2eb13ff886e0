#pragma once
// The ten header bytes of a message hex text, read without the codec, so the
// open-transaction lists can compare messages cheaply. The field layout is the
// SECS-I one even for HSMS texts: an HSMS control header reads as device id
// 32767 with the R-bit set.
#include <cstdint>
#include <string>
#include <string_view>

namespace tovik {

struct CHMsgHeader {
    // The values of a record made without a text.
    CHMsgHeader() = default;
    // Reads the first ten digit pairs; digits after the twentieth are not
    // looked at. A pair that is missing (short text) or not hex reads as 0.
    explicit CHMsgHeader(std::string_view hex);

    uint32_t RBit = 0;
    uint16_t DeviceID = 1;
    uint32_t WBit = 1;
    uint16_t Stream = 0;
    uint16_t Function = 0;
    uint32_t EBit = 1;
    uint16_t BlockNumber = 1;
    uint16_t SystemHigh = 0; // system bytes 6-7
    uint16_t SystemLow = 0;  // system bytes 8-9
};

// The ten header bytes of a hex text as the binary item of an S9 report,
// "<b 0x.. 0x..>", digit pairs as they stand; a missing pair reads "00".
std::string HeaderAsBinaryItem(std::string_view hex);

// Milliseconds of a steady clock cut to 32 bits: ages are differences of
// these, so they stay right across the wrap.
uint32_t TickCount();

} // namespace tovik
