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

void put16(std::vector<uint8_t>& v, uint16_t x) { // network order
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
    put16(v, uint16_t(x >> 16));
    put16(v, uint16_t(x));
}
// Block fields are in the writer's own byte order, which the section's
// byte-order magic announces.
void host16(std::vector<uint8_t>& v, uint16_t x) {
    uint8_t b[2];
    std::memcpy(b, &x, 2);
    v.insert(v.end(), b, b + 2);
}
void host32(std::vector<uint8_t>& v, uint32_t x) {
    uint8_t b[4];
    std::memcpy(b, &x, 4);
    v.insert(v.end(), b, b + 4);
}

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
void mac(std::vector<uint8_t>& v, uint32_t ip) {
    // A locally administered address made from the IPv4 address.
    v.insert(v.end(), {0x02, 0x00, uint8_t(ip >> 24), uint8_t(ip >> 16), uint8_t(ip >> 8), uint8_t(ip)});
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
    // Packets go out with the periodic flush, not in 4 KiB pieces.
    std::setvbuf(m_file, nullptr, _IOFBF, 256 * 1024);
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

void PcapngWriter::packet(uint32_t interface, const uint8_t* data, std::size_t size, int64_t micros) {
    std::vector<uint8_t> epb;
    epb.reserve(20 + size + 3);
    host32(epb, interface);
    host32(epb, uint32_t(uint64_t(micros) >> 32));
    host32(epb, uint32_t(uint64_t(micros)));
    host32(epb, uint32_t(size));
    host32(epb, uint32_t(size));
    epb.insert(epb.end(), data, data + size);
    block(kEnhancedPacket, epb);
    ++m_records;
    if (micros - m_lastFlush >= kFlushEveryMicros) {
        std::fflush(m_file);
        m_lastFlush = micros;
    }
}

void PcapngWriter::segment(const Endpoint& from, const Endpoint& to, uint32_t seq, uint32_t ack, uint8_t flags,
                           const uint8_t* data, std::size_t size, int64_t micros) {
    std::vector<uint8_t>& p = m_packet;
    p.clear();
    mac(p, to.ipv4);
    mac(p, from.ipv4);
    put16(p, 0x0800);
    const std::size_t ip = p.size();
    put16(p, 0x4500);
    put16(p, uint16_t(20 + 20 + size));
    put16(p, m_ipId++);
    put16(p, 0x4000); // don't fragment
    put16(p, 0x4006); // TTL 64, TCP
    put16(p, 0);
    put32(p, from.ipv4);
    put32(p, to.ipv4);
    const uint16_t ipSum = fold(sum16(p.data() + ip, 20));
    p[ip + 10] = uint8_t(ipSum >> 8);
    p[ip + 11] = uint8_t(ipSum);
    const std::size_t tcp = p.size();
    put16(p, from.port);
    put16(p, to.port);
    put32(p, seq);
    put32(p, ack);
    p.push_back(0x50); // 20-byte header
    p.push_back(flags);
    put16(p, 0xffff); // window
    put16(p, 0);
    put16(p, 0);
    p.insert(p.end(), data, data + size);
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
    const uint16_t tcpSum = fold(sum16(p.data() + tcp, tcpLength, sum16(pseudo, 12)));
    p[tcp + 16] = uint8_t(tcpSum >> 8);
    p[tcp + 17] = uint8_t(tcpSum);
    packet(kEthernetInterface, p.data(), p.size(), micros);
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
    m_packet.assign(1, received ? 0 : 1);
    m_packet.insert(m_packet.end(), data, data + size);
    packet(kSecsInterface, m_packet.data(), m_packet.size(), micros);
}

} // namespace tovik::capture
