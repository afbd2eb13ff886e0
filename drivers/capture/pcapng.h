#pragma once
// A pcapng capture file that Wireshark and tshark open: HSMS traffic as
// Ethernet/IPv4/TCP packets with the links' real addresses and ports, one
// TCP connection per link with consistent sequence and acknowledgement
// numbers (a synthetic handshake opens each, so "Follow TCP stream" and the
// HSMS dissector work), and SECS-I blocks on a second interface of link type
// USER0 (147), one record per block, its first byte 0 for received and 1 for
// sent. Plain C++ over a stdio file; timestamps in microseconds since the epoch.
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace tovik::capture {

struct Endpoint {
    uint32_t ipv4 = 0; // host order; 127.0.0.1 is 0x7f000001
    uint16_t port = 0;
    auto operator<=>(const Endpoint&) const = default;
};

class PcapngWriter {
public:
    PcapngWriter() = default;
    ~PcapngWriter();
    PcapngWriter(const PcapngWriter&) = delete;
    PcapngWriter& operator=(const PcapngWriter&) = delete;

    // Creates (or replaces) the file and writes its section and interfaces;
    // false with `error` set when it cannot be written.
    bool open(const std::string& path, std::string& error);
    bool isOpen() const { return m_file != nullptr; }
    void close();

    // Stream bytes of the TCP connection from `client` (the side that
    // connected) to `server`, in the direction given, as one or more segments.
    void tcp(const Endpoint& client, const Endpoint& server, bool fromClient, const uint8_t* data,
             std::size_t size, int64_t micros);
    // The connection ends: FIN both ways, so the next one with the same ports starts afresh.
    void tcpClosed(const Endpoint& client, const Endpoint& server, int64_t micros);
    // One SECS-I block as it crossed the line.
    void secsBlock(bool received, const uint8_t* data, std::size_t size, int64_t micros);
    // Hands what is buffered to the system.
    void flush();
    // Records written so far.
    uint64_t records() const { return m_records; }

    static int64_t nowMicros();

private:
    struct Flow {
        uint32_t clientSeq = 0;
        uint32_t serverSeq = 0;
    };
    using Key = std::tuple<Endpoint, Endpoint>;
    Flow& flow(const Endpoint& client, const Endpoint& server, int64_t micros);
    void segment(const Endpoint& from, const Endpoint& to, uint32_t seq, uint32_t ack, uint8_t flags,
                 const uint8_t* data, std::size_t size, int64_t micros);
    // Ethernet, IPv4 and TCP headers: the most a packet carries before its data.
    static constexpr std::size_t kMaxPacketHead = 54;
    void packet(uint32_t interface, const uint8_t* head, std::size_t headSize, const uint8_t* data,
                std::size_t size, int64_t micros);
    void block(uint32_t type, const std::vector<uint8_t>& body);
    void block(uint32_t type, const uint8_t* head, std::size_t headSize, const uint8_t* data, std::size_t size);

    std::FILE* m_file = nullptr;
    static constexpr std::size_t kFileBuffer = 256 * 1024;
    std::unique_ptr<char[]> m_buffer; // the file's, kept while it is open
    std::map<Key, Flow> m_flows;
    std::vector<uint8_t> m_block;
    uint16_t m_ipId = 0;
    uint64_t m_records = 0;
    int64_t m_lastFlush = 0;
};

} // namespace tovik::capture
