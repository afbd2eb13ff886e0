#pragma once
// Hand-built HSMS frames for the tests: hex text and bytes, the length field,
// a header builder, and a loopback port nobody listens on.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace hsmstest {

using Bytes = std::vector<std::uint8_t>;

// Pairs of hex digits; blanks between pairs are skipped.
inline Bytes bytesOf(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        if (hex[i] == ' ') {
            --i;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

inline std::string hexOf(const Bytes& b, std::size_t from = 0, std::size_t count = std::string::npos) {
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (std::size_t i = from; i < b.size() && i - from < count; ++i) {
        s += d[b[i] >> 4];
        s += d[b[i] & 15];
    }
    return s;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Length field, then the message given as hex.
inline Bytes framed(const std::string& hex) {
    const Bytes msg = bytesOf(hex);
    const auto n = static_cast<std::uint32_t>(msg.size());
    return concat({Bytes{static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                         static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)},
                   msg});
}

// A header as hex: session/device, stream byte (W-bit in bit 7), function,
// system bytes, SType (PType is always 0).
inline std::string header(unsigned session, unsigned streamW, unsigned function, unsigned system,
                          unsigned stype = 0) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04x%02x%02x00%02x%08x", session, streamW, function, stype, system);
    return buf;
}

// A port nobody listens on right now (the kernel hands out a fresh one).
inline int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

} // namespace hsmstest
