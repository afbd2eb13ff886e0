// SML load of arbitrary text; loaded messages must survive print -> parse -> print.
#include "stable.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    tovik::CVeltSecsII codec;
    codec.SetSmlText(std::string(reinterpret_cast<const char*>(data), size));
    if (codec.GetLastError().empty()) {
        tovik::fuzz::checkPrintParsePrint(codec);
        tovik::CVeltSecsII hex;
        hex.SetHexMessage(codec.GetHexMessage());
        if (!hex.GetLastError().empty() || hex.GetHexMessage() != codec.GetHexMessage())
            __builtin_trap();
    }
    return 0;
}
