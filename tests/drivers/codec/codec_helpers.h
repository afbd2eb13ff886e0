#pragma once
#include "CVeltSecsII.h"

#include <string>

namespace tovik::test {

// Body hex of an SML text (the header's 20 digits cut off).
inline std::string bodyHex(const std::string& sml) {
    CVeltSecsII c;
    c.SetSmlText(sml);
    const std::string hex = c.GetHexMessage();
    return c.GetLastError().empty() ? hex.substr(20) : "error: " + c.GetLastError();
}

// SML text of a message given as header and body hex.
inline std::string smlOfBody(const std::string& body) {
    CVeltSecsII c;
    c.SetHexMessage("00000101800100000000" + body);
    return c.GetLastError().empty() ? c.GetSmlText() : "error: " + c.GetLastError();
}

} // namespace tovik::test
