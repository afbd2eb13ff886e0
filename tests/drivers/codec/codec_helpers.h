#pragma once
#include "CVeltSecsII.h"

#include <string>

namespace tovik::test {

// Hex of the message an SML text loads, or its error.
inline std::string messageHex(const std::string& sml) {
    CVeltSecsII c;
    c.SetSmlText(sml);
    return c.GetLastError().empty() ? c.GetHexMessage() : "error: " + c.GetLastError();
}

// Body hex of an SML text (the header's 20 digits cut off).
inline std::string bodyHex(const std::string& sml) {
    const std::string hex = messageHex(sml);
    return hex.rfind("error: ", 0) == 0 ? hex : hex.substr(20);
}

// SML text of a message given as header and body hex.
inline std::string smlOfBody(const std::string& body) {
    CVeltSecsII c;
    c.SetHexMessage("00000101800100000000" + body);
    return c.GetLastError().empty() ? c.GetSmlText() : "error: " + c.GetLastError();
}

} // namespace tovik::test
