#include "secsi_line.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace tovik::secsi {

namespace {

std::string byteText(uint8_t byte) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02x", byte);
    return buf;
}

bool validLength(uint8_t byte) {
    return byte >= kMinBlockLength && byte <= kMaxBlockLength;
}

// Blocks of one message share every header byte but the E-bit and block number.
bool sameMessage(const uint8_t* a, const uint8_t* b) {
    return std::memcmp(a, b, 4) == 0 && std::memcmp(a + 6, b + 6, 4) == 0;
}

} // namespace

const char* lineStateText(LineState state) {
    switch (state) {
    case LineState::Idle:
        return "Idle";
    case LineState::WaitEot:
        return "Wait EOT";
    case LineState::WaitAck:
        return "Wait ACK";
    case LineState::WaitLength:
        return "Wait Length";
    case LineState::ReceiveBlock:
        return "Receiving";
    case LineState::Discard:
        return "Discarding";
    case LineState::WaitBlock:
        return "Wait Block";
    }
    return "Idle";
}

LineCore::LineCore(LineConfig config) {
    setConfig(config);
}

void LineCore::setConfig(const LineConfig& config) {
    m_cfg = config;
    m_cfg.retryCount = std::max(0, m_cfg.retryCount);
    m_cfg.t1Ms = std::max(1, m_cfg.t1Ms);
    m_cfg.t2Ms = std::max(1, m_cfg.t2Ms);
    m_cfg.t4Ms = std::max(1, m_cfg.t4Ms);
    m_cfg.device &= 0x7fff;
}

uint64_t LineCore::send(std::vector<uint8_t> message, Millis now, SendFault fault) {
    const uint64_t id = m_nextId++;
    const std::string why = checkSendable(message);
    if (!why.empty()) {
        error(InvalidLength, why);
        LineEvent ev;
        ev.kind = LineEvent::Kind::SendCompleted;
        ev.sendId = id;
        m_events.push_back(std::move(ev));
        return id;
    }
    const uint32_t blocks = blockCount(message.size());
    m_queue.push_back(Outgoing{id, std::move(message), blocks, fault});
    startSendIfIdle(now);
    return id;
}

void LineCore::receive(const uint8_t* data, std::size_t size, Millis now) {
    // Timers that fell due before these bytes arrived run first.
    advance(now);
    for (std::size_t i = 0; i < size; ++i)
        onByte(data[i], now);
}

std::optional<Millis> LineCore::nextDeadline() const {
    std::optional<Millis> due = m_deadline;
    if (m_heldUntil && (!due || *m_heldUntil < *due))
        due = m_heldUntil;
    if (m_incoming && (!due || m_incoming->t4Deadline < *due))
        due = m_incoming->t4Deadline;
    return due;
}

void LineCore::advance(Millis now) {
    if (m_heldUntil && now >= *m_heldUntil) {
        m_out.insert(m_out.end(), m_held.begin(), m_held.end());
        m_held.clear();
        m_heldUntil.reset();
    }
    if (m_deadline && now >= *m_deadline) {
        m_deadline.reset();
        switch (m_state) {
        case LineState::WaitEot:
            error(T2Expired, "no EOT within T2 after ENQ for " + blockName());
            blockFailed(now);
            break;
        case LineState::WaitAck:
            error(T2Expired, "no ACK within T2 after " + blockName());
            blockFailed(now);
            break;
        case LineState::WaitLength:
            error(T2Expired, "no length byte within T2 after EOT");
            put(kNak);
            afterReceive(now);
            break;
        case LineState::ReceiveBlock:
            error(T1Expired, "block stopped after " + std::to_string(m_block.size()) + " of " +
                                 std::to_string(m_blockLength + 2) + " bytes");
            put(kNak);
            afterReceive(now);
            break;
        case LineState::Discard:
            put(kNak);
            afterReceive(now);
            break;
        case LineState::Idle:
        case LineState::WaitBlock:
            break;
        }
    }
    if (m_incoming && now >= m_incoming->t4Deadline) {
        error(T4Expired, "no block " + std::to_string(m_incoming->expected) + " within T4; " +
                             std::to_string(m_incoming->blocks) + " block(s) dropped");
        dropIncoming();
        if (m_state == LineState::WaitBlock)
            setState(LineState::Idle);
    }
    startSendIfIdle(now);
}

void LineCore::abort() {
    while (!m_queue.empty())
        finishSend(false);
    m_incoming.reset();
    m_block.clear();
    m_held.clear();
    m_heldUntil.reset();
    m_noiseReported = false;
    setState(LineState::Idle);
}

std::vector<uint8_t> LineCore::takeOutput() {
    return std::exchange(m_out, {});
}

std::vector<LineEvent> LineCore::takeEvents() {
    return std::exchange(m_events, {});
}

void LineCore::setState(LineState state, std::optional<Millis> deadline) {
    m_deadline = deadline;
    if (state == m_state)
        return;
    m_state = state;
    LineEvent ev;
    ev.kind = LineEvent::Kind::StateChanged;
    ev.state = state;
    m_events.push_back(std::move(ev));
}

void LineCore::error(short code, std::string detail) {
    LineEvent ev;
    ev.kind = LineEvent::Kind::Error;
    ev.code = code;
    ev.detail = std::move(detail);
    m_events.push_back(std::move(ev));
}

void LineCore::noise(uint8_t byte, const char* where) {
    // One report per burst: a noisy line must not flood the event log.
    if (m_noiseReported)
        return;
    m_noiseReported = true;
    error(UnexpectedChar, "unexpected " + byteText(byte) + " " + where);
}

std::string LineCore::blockName() const {
    if (m_queue.empty())
        return "block";
    return "block " + std::to_string(m_blockIndex + 1) + " of " +
           std::to_string(m_queue.front().blocks);
}

void LineCore::onByte(uint8_t byte, Millis now) {
    switch (m_state) {
    case LineState::Idle:
        if (byte == kEnq && m_faultHook) {
            const ReceiveFault f = m_faultHook(nullptr);
            if (f == ReceiveFault::Nak)
                put(kNak);
            if (f == ReceiveFault::None)
                startReceive(now);
        } else if (byte == kEnq)
            startReceive(now);
        else
            noise(byte, "on an idle line");
        break;
    case LineState::WaitEot:
        if (byte == kEot) {
            m_noiseReported = false;
            sendBlock(now);
        } else if (byte == kEnq) {
            // Both sides want the line. The master keeps waiting for its EOT;
            // the slave answers the master and sends its own block afterwards.
            if (m_cfg.master) {
                error(UnexpectedChar, "line contention: ENQ while waiting for EOT; master keeps the line");
            } else {
                error(UnexpectedChar, "line contention: ENQ while waiting for EOT; slave receives first");
                startReceive(now);
            }
        } else {
            noise(byte, "while waiting for EOT");
        }
        break;
    case LineState::WaitAck:
        if (byte == kAck) {
            blockAcked(now);
        } else {
            if (byte == kNak)
                error(ReceivedNak, "NAK for " + blockName());
            else
                error(UnexpectedChar, "unexpected " + byteText(byte) + " instead of ACK for " + blockName());
            blockFailed(now);
        }
        break;
    case LineState::WaitLength:
        lengthByte(byte, now);
        break;
    case LineState::ReceiveBlock:
        m_block.push_back(byte);
        if (m_block.size() == m_blockLength + 2)
            blockComplete(now);
        else
            m_deadline = now + m_cfg.t1Ms;
        break;
    case LineState::Discard:
        m_deadline = now + m_cfg.t1Ms;
        break;
    case LineState::WaitBlock:
        if (byte == kEnq)
            startReceive(now);
        else if (validLength(byte))
            lengthByte(byte, now);
        else
            noise(byte, "while waiting for the next block");
        break;
    }
}

void LineCore::startSendIfIdle(Millis now) {
    if (m_state == LineState::Idle && !m_queue.empty())
        sendEnq(now);
}

void LineCore::sendEnq(Millis now) {
    m_noiseReported = false;
    put(kEnq);
    setState(LineState::WaitEot, now + m_cfg.t2Ms);
}

void LineCore::sendBlock(Millis now) {
    SendFault& fault = m_queue.front().fault;
    std::vector<uint8_t> frame = frameBlock(m_queue.front().message, m_blockIndex, m_cfg.master != fault.flipRBit);
    if (fault.badChecksum)
        frame.back() ^= 0xff;
    if (m_keepBlocks)
        m_blocks.push_back({false, std::vector<uint8_t>(frame.begin() + 1, frame.end() - 2)});
    if (fault.splitMs > 0) {
        const auto half = static_cast<std::ptrdiff_t>(frame.size() / 2);
        m_out.insert(m_out.end(), frame.begin(), frame.begin() + half);
        m_held.assign(frame.begin() + half, frame.end());
        m_heldUntil = now + fault.splitMs;
        setState(LineState::WaitAck, *m_heldUntil + m_cfg.t2Ms);
    } else {
        m_out.insert(m_out.end(), frame.begin(), frame.end());
        setState(LineState::WaitAck, now + m_cfg.t2Ms);
    }
    fault = SendFault{fault.flipRBit};
}

void LineCore::blockAcked(Millis now) {
    m_retries = 0;
    ++m_blockIndex;
    if (m_blockIndex == m_queue.front().blocks) {
        finishSend(true);
        setState(LineState::Idle);
        startSendIfIdle(now);
    } else if (m_cfg.msec) {
        sendBlock(now);
    } else {
        sendEnq(now);
    }
}

void LineCore::blockFailed(Millis now) {
    if (++m_retries > m_cfg.retryCount) {
        error(RetryOver, blockName() + " failed after " + std::to_string(m_cfg.retryCount) +
                             " retries");
        finishSend(false);
        setState(LineState::Idle);
        startSendIfIdle(now);
        return;
    }
    sendEnq(now);
}

void LineCore::finishSend(bool success) {
    LineEvent ev;
    ev.kind = LineEvent::Kind::SendCompleted;
    ev.sendId = m_queue.front().id;
    ev.success = success;
    m_queue.pop_front();
    m_blockIndex = 0;
    m_retries = 0;
    m_events.push_back(std::move(ev));
}

void LineCore::startReceive(Millis now) {
    m_noiseReported = false;
    put(kEot);
    setState(LineState::WaitLength, now + m_cfg.t2Ms);
}

void LineCore::lengthByte(uint8_t byte, Millis now) {
    if (!validLength(byte)) {
        error(InvalidLength, "length byte " + std::to_string(byte) + " outside 10..254");
        setState(LineState::Discard, now + m_cfg.t1Ms);
        return;
    }
    m_blockLength = byte;
    m_block.clear();
    m_block.reserve(m_blockLength + 2);
    setState(LineState::ReceiveBlock, now + m_cfg.t1Ms);
}

void LineCore::blockComplete(Millis now) {
    const uint16_t sum = checksum(m_block.data(), m_blockLength);
    const uint16_t sent = static_cast<uint16_t>((m_block[m_blockLength] << 8) | m_block[m_blockLength + 1]);
    if (sum != sent) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "checksum %04x, computed %04x", sent, sum);
        error(BadChecksum, buf);
        put(kNak);
    } else if (m_faultHook && m_faultHook(m_block.data()) == ReceiveFault::Nak) {
        put(kNak);
    } else {
        put(kAck);
        if (m_keepBlocks)
            m_blocks.push_back({true, std::vector<uint8_t>(m_block.begin(), m_block.begin() + m_blockLength)});
        acceptBlock(m_block.data(), m_blockLength, now);
    }
    m_block.clear();
    afterReceive(now);
}

void LineCore::afterReceive(Millis now) {
    setState(m_cfg.msec && m_incoming ? LineState::WaitBlock : LineState::Idle);
    startSendIfIdle(now);
}

void LineCore::acceptBlock(const uint8_t* block, std::size_t size, Millis now) {
    // A block whose ACK was lost comes again with the same header: keep one.
    if (m_haveLastHeader && std::memcmp(block, m_lastHeader, kHeaderSize) == 0)
        return;
    std::memcpy(m_lastHeader, block, kHeaderSize);
    m_haveLastHeader = true;

    const uint16_t number = blockNumber(block);
    const bool last = endBit(block);
    if (m_incoming) {
        Incoming& in = *m_incoming;
        if (sameMessage(block, in.header)) {
            if (number != in.expected) {
                error(InvalidBlockNumber, "block " + std::to_string(number) + " where " +
                                              std::to_string(in.expected) + " was expected");
                dropIncoming();
                return;
            }
            in.message.insert(in.message.end(), block + kHeaderSize, block + size);
            ++in.blocks;
            ++in.expected;
            if (last) {
                deliver(in);
                dropIncoming();
            } else if (in.blocks >= kMaxBlocks) {
                error(InvalidMultiBlock, "message has more than " + std::to_string(kMaxBlocks) +
                                             " blocks; dropped");
                dropIncoming();
            } else {
                in.t4Deadline = now + m_cfg.t4Ms;
            }
            return;
        }
        if (number > 1) {
            error(InvalidMultiBlock, "block " + std::to_string(number) + " of no open message");
            return;
        }
        error(InvalidMultiBlock, "new message before block " + std::to_string(in.expected) +
                                     " of the previous one; " + std::to_string(in.blocks) +
                                     " block(s) dropped");
        dropIncoming();
    } else if (number > 1) {
        error(InvalidMultiBlock, "block " + std::to_string(number) + " of no open message");
        return;
    }

    if (deviceId(block) != m_cfg.device)
        error(InvalidDeviceId, "block for device " + std::to_string(deviceId(block)) +
                                   ", this line is device " + std::to_string(m_cfg.device));
    Incoming in;
    std::memcpy(in.header, block, kHeaderSize);
    in.message.assign(block, block + size);
    in.blocks = 1;
    in.expected = static_cast<uint32_t>(number) + 1;
    in.t4Deadline = now + m_cfg.t4Ms;
    if (last)
        deliver(in);
    else
        m_incoming = std::move(in);
}

void LineCore::deliver(Incoming& in) {
    LineEvent ev;
    ev.kind = LineEvent::Kind::MessageReceived;
    ev.message = std::move(in.message);
    ev.message[4] |= 0x80; // the joined message is complete
    m_events.push_back(std::move(ev));
}

void LineCore::dropIncoming() {
    m_incoming.reset();
}

} // namespace tovik::secsi
