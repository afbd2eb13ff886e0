#include "pcapng.h"

#include <chrono>
#include <cstring>

namespace tovik::capture {

namespace {
constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescription = 1;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint16_t kLinkEthernet = 1;
constexpr uint16_t kLinkUser0 = 147;
constexpr uint32_t kEthernetInterface = 0;
constexpr uint32_t kSecsInterface = 1;
constexpr uint8_t kFin = 0x01, kSyn = 0x02, kPsh = 0x08, kAck = 0x10;
// Segments stay well inside an IPv4 packet's 16-bit total length.
constexpr std::size_t kMaxSegment = 65000;
constexpr int64_t kFlushEveryMicros = 200000;

// Block fields are in the writer's own byte order, which the section's
// byte-order magic announces.
template <typename T> void host(std::vector<uint8_t>& v, T x) {
    const std::size_t at = v.size();
    v.resize(at + sizeof x);
    std::memcpy(v.data() + at, &x, sizeof x);
}
void host16(std::vector<uint8_t>& v, uint16_t x) { host(v, x); }
void host32(std::vector<uint8_t>& v, uint32_t x) { host(v, x); }

uint32_t sum16(const uint8_t* p, std::size_t n, uint32_t sum = 0) {
    for (std::size_t i = 0; i + 1 < n; i += 2)
        sum += uint32_t(p[i]) << 8 | p[i + 1];
    if (n & 1)
        sum += uint32_t(p[n - 1]) << 8;
    return sum;
}
uint16_t fold(uint32_t sum) {
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return uint16_t(~sum);
}
} // namespace

PcapngWriter::~PcapngWriter() { close(); }

int64_t PcapngWriter::nowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool PcapngWriter::open(const std::string& path, std::string& error) {
    close();
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file) {
        error = std::strerror(errno);
        return false;
    }
    // Packets go out with the periodic flush, not in 4 KiB pieces: the C
    // library takes the size only with a buffer given to it.
    if (!m_buffer)
        m_buffer = std::make_unique<char[]>(kFileBuffer);
    std::setvbuf(m_file, m_buffer.get(), _IOFBF, kFileBuffer);
    std::vector<uint8_t> shb;
    host32(shb, 0x1A2B3C4D); // byte-order magic
    host16(shb, 1);
    host16(shb, 0);
    host32(shb, 0xffffffff); // section length not given
    host32(shb, 0xffffffff);
    block(kSectionHeader, shb);
    for (uint16_t link : {kLinkEthernet, kLinkUser0}) {
        std::vector<uint8_t> idb;
        host16(idb, link);
        host16(idb, 0);
        host32(idb, 0); // no snap length limit
        block(kInterfaceDescription, idb); // default resolution: microseconds
    }
    m_flows.clear();
    m_records = 0;
    if (std::fflush(m_file) != 0) {
        error = std::strerror(errno);
        close();
        return false;
    }
    return true;
}

void PcapngWriter::close() {
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
}

void PcapngWriter::flush() {
    if (m_file)
        std::fflush(m_file);
}

void PcapngWriter::block(uint32_t type, const std::vector<uint8_t>& body) {
    const uint32_t total = uint32_t(12 + ((body.size() + 3) & ~std::size_t(3)));
    m_block.clear();
    host32(m_block, type);
    host32(m_block, total);
    m_block.insert(m_block.end(), body.begin(), body.end());
    m_block.resize(total - 4, 0);
    host32(m_block, total);
    std::fwrite(m_block.data(), 1, m_block.size(), m_file);
}

// A block from a head and a payload, built in place and written at once.
void PcapngWriter::block(uint32_t type, const uint8_t* head, std::size_t headSize, const uint8_t* data,
                         std::size_t size) {
    const std::size_t body = headSize + size;
    const uint32_t total = uint32_t(12 + ((body + 3) & ~std::size_t(3)));
    m_block.resize(total);
    uint8_t* p = m_block.data();
    std::memcpy(p, &type, 4);
    std::memcpy(p + 4, &total, 4);
    std::memcpy(p + 8, head, headSize);
    if (size)
        std::memcpy(p + 8 + headSize, data, size);
    std::memset(p + 8 + body, 0, total - 12 - body);
    std::memcpy(p + total - 4, &total, 4);
    std::fwrite(p, 1, total, m_file);
}

void PcapngWriter::packet(uint32_t interface, const uint8_t* head, std::size_t headSize, const uint8_t* data,
                          std::size_t size, int64_t micros) {
    uint8_t epb[20 + kMaxPacketHead];
    const uint32_t length = uint32_t(headSize + size);
    const uint32_t fields[5] = {interface, uint32_t(uint64_t(micros) >> 32), uint32_t(uint64_t(micros)), length,
                                length};
    std::memcpy(epb, fields, sizeof fields);
    std::memcpy(epb + 20, head, headSize);
    block(kEnhancedPacket, epb, 20 + headSize, data, size);
    ++m_records;
    if (micros - m_lastFlush >= kFlushEveryMicros) {
        std::fflush(m_file);
        m_lastFlush = micros;
    }
}

// Ethernet, IPv4 and TCP headers in front of the data, checksums included;
// the data itself is only summed, never copied here.
void PcapngWriter::segment(const Endpoint& from, const Endpoint& to, uint32_t seq, uint32_t ack, uint8_t flags,
                           const uint8_t* data, std::size_t size, int64_t micros) {
    uint8_t h[kMaxPacketHead];
    const auto at16 = [&h](std::size_t i, uint32_t x) {
        h[i] = uint8_t(x >> 8);
        h[i + 1] = uint8_t(x);
    };
    const auto at32 = [&](std::size_t i, uint32_t x) {
        at16(i, x >> 16);
        at16(i + 2, x);
    };
    // Locally administered addresses made from the IPv4 addresses.
    const auto mac = [&](std::size_t i, uint32_t ip) {
        at16(i, 0x0200);
        at32(i + 2, ip);
    };
    mac(0, to.ipv4);
    mac(6, from.ipv4);
    at16(12, 0x0800);
    constexpr std::size_t ip = 14, tcp = 34;
    at16(ip, 0x4500);
    at16(ip + 2, uint32_t(20 + 20 + size));
    at16(ip + 4, m_ipId++);
    at16(ip + 6, 0x4000); // don't fragment
    at16(ip + 8, 0x4006); // TTL 64, TCP
    at16(ip + 10, 0);
    at32(ip + 12, from.ipv4);
    at32(ip + 16, to.ipv4);
    at16(ip + 10, fold(sum16(h + ip, 20)));
    at16(tcp, from.port);
    at16(tcp + 2, to.port);
    at32(tcp + 4, seq);
    at32(tcp + 8, ack);
    h[tcp + 12] = 0x50; // 20-byte header
    h[tcp + 13] = flags;
    at16(tcp + 14, 0xffff); // window
    at32(tcp + 16, 0);
    // Checksum over the pseudo header, header and data.
    uint8_t pseudo[12];
    for (int i = 0; i < 4; ++i) {
        pseudo[i] = uint8_t(from.ipv4 >> (24 - 8 * i));
        pseudo[4 + i] = uint8_t(to.ipv4 >> (24 - 8 * i));
    }
    const std::size_t tcpLength = 20 + size;
    pseudo[8] = 0;
    pseudo[9] = 6;
    pseudo[10] = uint8_t(tcpLength >> 8);
    pseudo[11] = uint8_t(tcpLength);
    at16(tcp + 16, fold(sum16(data, size, sum16(h + tcp, 20, sum16(pseudo, 12)))));
    packet(kEthernetInterface, h, sizeof h, data, size, micros);
}

PcapngWriter::Flow& PcapngWriter::flow(const Endpoint& client, const Endpoint& server, int64_t micros) {
    const Key key{client, server};
    auto it = m_flows.find(key);
    if (it != m_flows.end())
        return it->second;
    // A connection first seen: its handshake, from fixed initial numbers.
    Flow f{1000, 5000};
    segment(client, server, f.clientSeq, 0, kSyn, nullptr, 0, micros);
    segment(server, client, f.serverSeq, f.clientSeq + 1, kSyn | kAck, nullptr, 0, micros);
    ++f.clientSeq;
    ++f.serverSeq;
    segment(client, server, f.clientSeq, f.serverSeq, kAck, nullptr, 0, micros);
    return m_flows.emplace(key, f).first->second;
}

void PcapngWriter::tcp(const Endpoint& client, const Endpoint& server, bool fromClient, const uint8_t* data,
                       std::size_t size, int64_t micros) {
    if (!m_file)
        return;
    Flow& f = flow(client, server, micros);
    for (std::size_t at = 0; at < size; at += kMaxSegment) {
        const std::size_t n = std::min(kMaxSegment, size - at);
        if (fromClient) {
            segment(client, server, f.clientSeq, f.serverSeq, kPsh | kAck, data + at, n, micros);
            f.clientSeq += uint32_t(n);
        } else {
            segment(server, client, f.serverSeq, f.clientSeq, kPsh | kAck, data + at, n, micros);
            f.serverSeq += uint32_t(n);
        }
    }
}

void PcapngWriter::tcpClosed(const Endpoint& client, const Endpoint& server, int64_t micros) {
    if (!m_file)
        return;
    const auto it = m_flows.find(Key{client, server});
    if (it == m_flows.end())
        return;
    Flow& f = it->second;
    segment(client, server, f.clientSeq, f.serverSeq, kFin | kAck, nullptr, 0, micros);
    segment(server, client, f.serverSeq, f.clientSeq + 1, kFin | kAck, nullptr, 0, micros);
    segment(client, server, f.clientSeq + 1, f.serverSeq + 1, kAck, nullptr, 0, micros);
    m_flows.erase(it);
    std::fflush(m_file);
}

void PcapngWriter::secsBlock(bool received, const uint8_t* data, std::size_t size, int64_t micros) {
    if (!m_file)
        return;
    const uint8_t direction = received ? 0 : 1;
    packet(kSecsInterface, &direction, 1, data, size, micros);
}

} // namespace tovik::capture
