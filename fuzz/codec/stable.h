#pragma once
// The property both codec fuzz targets check after any load that succeeds:
// printing SML, loading that SML and printing again changes nothing, and the
// bytes stay the same.
#include "CVeltSecsII.h"

#include <cstdio>
#include <cstdlib>

namespace tovik::fuzz {

inline void checkPrintParsePrint(const CVeltSecsII& loaded) {
    const std::string sml = loaded.GetSmlText();
    CVeltSecsII again;
    again.SetSmlText(sml);
    if (!again.GetLastError().empty()) {
        std::fprintf(stderr, "printed SML does not load: %s\n%s\n", again.GetLastError().c_str(),
                     sml.c_str());
        std::abort();
    }
    if (again.GetSmlText() != sml) {
        std::fprintf(stderr, "SML print is not stable:\n%s\n---\n%s\n", sml.c_str(),
                     again.GetSmlText().c_str());
        std::abort();
    }
    if (again.GetHexMessage().substr(20) != loaded.GetHexMessage().substr(20)) {
        std::fprintf(stderr, "body bytes changed through SML:\n%s\n", sml.c_str());
        std::abort();
    }
}

} // namespace tovik::fuzz
