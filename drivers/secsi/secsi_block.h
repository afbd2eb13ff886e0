#pragma once
// Block framing of the SECS-I line: length byte, 10-byte block header, data,
// 2-byte checksum. A message is cut into blocks of at most 244 data bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tovik::secsi {

inline constexpr uint8_t kEnq = 0x05;
inline constexpr uint8_t kEot = 0x04;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;

inline constexpr std::size_t kHeaderSize = 10;
inline constexpr std::size_t kMinBlockLength = 10;  // header only
inline constexpr std::size_t kMaxBlockLength = 254; // header + 244 data bytes
inline constexpr std::size_t kMaxBlockData = kMaxBlockLength - kHeaderSize;
inline constexpr uint32_t kMaxBlocks = 32767; // the block number is 15 bits
inline constexpr std::size_t kMaxMessageSize = kHeaderSize + std::size_t{kMaxBlocks} * kMaxBlockData;

// The codes reported with ErrorOccurred; the program has a text for each.
enum ErrorCode : short {
    UnexpectedChar = 1,
    InvalidLength = 2,
    BadChecksum = 3,
    ParityError = 4, // kept for its text; an 8N1 line raises none
    InvalidMultiBlock = 5,
    InvalidBlockNumber = 6,
    ReceivedNak = 7,
    RetryOver = 8,
    T4Expired = 9,
    T2Expired = 10,
    T1Expired = 11,
    T3Expired = 12,
    InvalidDeviceId = 13,
    // Faults of the line itself, each with its own cause.
    OpenFailed = 14,    // the device or the TCP peer cannot be opened
    PeerClosed = 15,    // the TCP peer closed the connection
    DeviceRemoved = 16, // the serial device vanished
    LineFailed = 17,    // any other read or write failure; a send while the line is down
};

// Sum of the bytes, modulo 65536; sent high byte first after the block.
uint16_t checksum(const uint8_t* data, std::size_t size);

inline uint16_t deviceId(const uint8_t* header) {
    return static_cast<uint16_t>(((header[0] & 0x7f) << 8) | header[1]);
}
inline bool endBit(const uint8_t* header) {
    return (header[4] & 0x80) != 0;
}
inline uint16_t blockNumber(const uint8_t* header) {
    return static_cast<uint16_t>(((header[4] & 0x7f) << 8) | header[5]);
}

// Number of blocks a message of this size needs (at least one); the caller
// checks the size against kMaxMessageSize first.
uint32_t blockCount(std::size_t messageSize);

// The line bytes of block `index` (0-based) of a message: length byte, the
// message header with block number index+1, the E-bit on the last block and
// the R-bit as given (1: from the equipment, which is the master), the data
// slice, checksum.
std::vector<uint8_t> frameBlock(const std::vector<uint8_t>& message, uint32_t index, bool rBit);

// Empty when the message can be sent, else why not.
std::string checkSendable(const std::vector<uint8_t>& message);

} // namespace tovik::secsi
