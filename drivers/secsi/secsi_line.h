#pragma once
// The SECS-I line protocol as a state machine over bytes and time: the port
// layer feeds received bytes and the current time in, and takes bytes to
// write, events and the next deadline out. No I/O and no clock of its own,
// so every timeout can be driven from a test without sleeping.
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "secsi_block.h"

namespace tovik::secsi {

using Millis = int64_t;

struct LineConfig {
    bool master = false;   // wins line contention
    int retryCount = 3;    // attempts per block = retryCount + 1
    int t1Ms = 500;        // between characters of a block
    int t2Ms = 10000;      // for the reply to ENQ, to a block, and for the length byte
    int t4Ms = 45000;      // between blocks of one message
    uint16_t device = 0;   // blocks naming another device are reported
    // Continuous variant: after a block of a multi-block message is ACKed the
    // sender goes straight on with the next block's length byte, without a new
    // ENQ/EOT handshake; the receiver of such a message keeps the line for it.
    // A NAK or timeout falls back to the normal handshake for the retry.
    bool msec = false;
};

enum class LineState {
    Idle,         // nothing in progress
    WaitEot,      // sent ENQ, waiting for the peer's EOT
    WaitAck,      // sent a block, waiting for ACK
    WaitLength,   // sent EOT, waiting for the length byte
    ReceiveBlock, // reading a block's bytes
    Discard,      // bad length: waiting for the line to go quiet before NAK
    WaitBlock,    // continuous variant: holding the line for the next block
};

// The state as shown to the user (StateChanged, the panel).
const char* lineStateText(LineState state);

struct LineEvent {
    enum class Kind { MessageReceived, SendCompleted, Error, StateChanged };
    Kind kind = Kind::Error;
    std::vector<uint8_t> message; // MessageReceived: the joined message
    uint64_t sendId = 0;          // SendCompleted: the id send() returned
    bool success = false;         // SendCompleted
    short code = 0;               // Error: 1..13
    std::string detail;           // Error
    LineState state = LineState::Idle; // StateChanged
};

// Faults on purpose. For a message sent: every block with the R-bit the
// other side would set; its first block once with a wrong checksum, or with
// a pause in its middle. For what the peer sends: the
// hook's verdict on each ENQ (header null) and each good block (its header).
struct SendFault {
    bool flipRBit = false;
    bool badChecksum = false;
    int splitMs = 0; // > 0: the first block stops halfway for this long
};
enum class ReceiveFault { None, Nak, NoEot };
using ReceiveFaultHook = std::function<ReceiveFault(const uint8_t* header)>;

class LineCore {
public:
    explicit LineCore(LineConfig config = {});

    // Takes effect for the next timer and the next block.
    void setConfig(const LineConfig& config);
    const LineConfig& config() const { return m_cfg; }

    // Queues a whole message (10-byte header, then body). Returns its id; the
    // outcome comes as a SendCompleted event with that id. A message that
    // cannot be sent fails at once with an InvalidLength error.
    uint64_t send(std::vector<uint8_t> message, Millis now, SendFault fault = {});
    void setReceiveFaultHook(ReceiveFaultHook hook) { m_faultHook = std::move(hook); }

    void receive(const uint8_t* data, std::size_t size, Millis now);

    // Runs the timers that are due at `now`.
    void advance(Millis now);
    std::optional<Millis> nextDeadline() const;

    // The line went away: every queued send fails, a partly received message
    // is dropped, the state returns to Idle. No error event is raised here.
    void abort();

    std::vector<uint8_t> takeOutput();
    std::vector<LineEvent> takeEvents();
    // Blocks (header and data, without length byte and checksum) as they
    // crossed the line, received ones once they checked good; kept only while
    // switched on.
    struct BlockRecord {
        bool received;
        std::vector<uint8_t> bytes;
    };
    void setKeepBlocks(bool on) { m_keepBlocks = on; }
    std::vector<BlockRecord> takeBlocks() { return std::exchange(m_blocks, {}); }

    LineState state() const { return m_state; }
    std::size_t pendingSends() const { return m_queue.size(); }

private:
    struct Outgoing {
        uint64_t id;
        std::vector<uint8_t> message;
        uint32_t blocks;
        SendFault fault; // all but flipRBit spent with the first block's first attempt
    };
    struct Incoming {
        uint8_t header[kHeaderSize];
        std::vector<uint8_t> message;
        uint32_t blocks = 0;
        uint32_t expected = 0; // next block number
        Millis t4Deadline = 0;
    };

    void onByte(uint8_t byte, Millis now);
    void setState(LineState state, std::optional<Millis> deadline = std::nullopt);
    void put(uint8_t byte) { m_out.push_back(byte); }
    void error(short code, std::string detail);
    void noise(uint8_t byte, const char* where);
    void startSendIfIdle(Millis now);
    void sendEnq(Millis now);
    void sendBlock(Millis now);
    void blockAcked(Millis now);
    void blockFailed(Millis now);
    void finishSend(bool success);
    void startReceive(Millis now);
    void lengthByte(uint8_t byte, Millis now);
    void blockComplete(Millis now);
    void acceptBlock(const uint8_t* block, std::size_t size, Millis now);
    void deliver(Incoming& in);
    void dropIncoming();
    void afterReceive(Millis now);
    std::string blockName() const;

    LineConfig m_cfg;
    LineState m_state = LineState::Idle;
    std::optional<Millis> m_deadline; // T1 or T2 of the current state

    std::deque<Outgoing> m_queue; // front is the message on the line
    uint32_t m_blockIndex = 0;
    int m_retries = 0;
    uint64_t m_nextId = 1;

    std::size_t m_blockLength = 0;
    std::vector<uint8_t> m_block; // header + data + checksum being read
    std::optional<Incoming> m_incoming;
    bool m_haveLastHeader = false;
    uint8_t m_lastHeader[kHeaderSize] = {};
    bool m_noiseReported = false;

    std::vector<uint8_t> m_out;
    bool m_keepBlocks = false;
    std::vector<BlockRecord> m_blocks;
    std::vector<LineEvent> m_events;
    ReceiveFaultHook m_faultHook;
    std::vector<uint8_t> m_held; // the rest of a split block
    std::optional<Millis> m_heldUntil;
};

} // namespace tovik::secsi
