#pragma once
// Which Linux device a serial port index names, and how a device path that
// means "SECS-I over TCP" is written.
#include <optional>
#include <string>
#include <vector>

namespace tovik::secsi {

// The serial devices of `devDir` in index order: ttyS* by number, then
// ttyUSB* by number, then ttyACM* by number. Index 0 is the first of them.
std::vector<std::string> serialDevices(const std::string& devDir = "/dev");

struct TcpTarget {
    std::string host;
    uint16_t port = 0;
};

// "tcp:HOST:PORT" (HOST may be [v6 address]); nullopt for anything else,
// including a port outside 1..65535.
std::optional<TcpTarget> parseTcpTarget(const std::string& path);

} // namespace tovik::secsi
