// Hex load of arbitrary text; loaded messages must survive print -> parse -> print.
#include "stable.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    tovik::CVeltSecsII codec;
    codec.SetHexMessage(std::string(reinterpret_cast<const char*>(data), size));
    if (codec.GetLastError().empty())
        tovik::fuzz::checkPrintParsePrint(codec);
    codec.SetItemPath("[0][1]");
    (void)codec.GetItemValue();
    return 0;
}
