#include "secsi_ports.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <tuple>

namespace tovik::secsi {

std::vector<std::string> serialDevices(const std::string& devDir) {
    static const char* const kFamilies[] = {"ttyS", "ttyUSB", "ttyACM"};
    struct Entry {
        int family;
        unsigned long number;
        std::string path;
    };
    std::vector<Entry> found;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(devDir, ec)) {
        const std::string name = e.path().filename().string();
        for (int f = 0; f < 3; ++f) {
            const std::string prefix = kFamilies[f];
            if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
                continue;
            const std::string digits = name.substr(prefix.size());
            if (digits.size() > 6 || !std::all_of(digits.begin(), digits.end(),
                                                  [](char c) { return c >= '0' && c <= '9'; }))
                continue;
            found.push_back({f, std::stoul(digits), e.path().string()});
        }
    }
    std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) {
        return std::tie(a.family, a.number) < std::tie(b.family, b.number);
    });
    std::vector<std::string> paths;
    for (auto& e : found)
        paths.push_back(std::move(e.path));
    return paths;
}

std::optional<TcpTarget> parseTcpTarget(const std::string& path) {
    if (path.rfind("tcp:", 0) != 0)
        return std::nullopt;
    const std::string rest = path.substr(4);
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    std::string host = rest.substr(0, colon);
    const std::string port = rest.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.empty() || port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const unsigned long value = std::stoul(port);
    if (value == 0 || value > 65535)
        return std::nullopt;
    return TcpTarget{host, static_cast<uint16_t>(value)};
}

} // namespace tovik::secsi
