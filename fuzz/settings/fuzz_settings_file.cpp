// The settings file reader and writer over arbitrary bytes: lookups, integer
// reading and rewriting a value must neither crash nor lose other lines.
#include "initext.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    tovik::IniText ini = tovik::IniText::parse(bytes);
    static const char* const kNames[][2] = {{"TimeOut", "T3"},
                                            {"Preferences", "Protocol"},
                                            {"HSMS", "IPAddress"},
                                            {"Log", "LogFileName"}};
    for (const auto& n : kNames) {
        if (auto v = ini.value(n[0], n[1]))
            (void)tovik::parseIniInt(*v);
    }
    (void)tovik::parseIniInt(bytes);

    // Serialising what was parsed gives back the same bytes.
    const std::string same = ini.serialize();
    const bool hasCr = bytes.find('\r') != std::string_view::npos;
    if (!hasCr && same != bytes)
        std::abort();

    // A written value reads back exactly, and the line count grows by at most
    // a blank, a header and the value.
    const std::size_t before = ini.lineCount();
    const std::string value =
        bytes.size() > 8 ? std::string(bytes.substr(0, 8)) : std::string(bytes);
    if (ini.setValue("TimeOut", "T3", value)) {
        if (ini.value("TimeOut", "T3") != value || ini.lineCount() > before + 3)
            std::abort();
        tovik::IniText again = tovik::IniText::parse(ini.serialize());
        if (again.value("TimeOut", "T3") != value)
            std::abort();
    }
    return 0;
}
