#pragma once
// Splits the HSMS byte stream into whole messages: a 4-byte big-endian length,
// then that many bytes (the 10-byte header and the body). Plain C++ over bytes,
// so it can be tested and fuzzed without sockets.
#include "result.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tovik::hsms {

inline constexpr std::size_t kHeaderLength = 10;
inline constexpr std::uint32_t kDefaultMaxMessageLength = 16u * 1024u * 1024u;

class FrameReader {
public:
    explicit FrameReader(std::uint32_t maxLength = kDefaultMaxMessageLength)
        : m_maxLength(maxLength) {}

    // Longest accepted message (header and body); takes effect at the next length field.
    void setMaxLength(std::uint32_t maxLength) { m_maxLength = maxLength; }
    std::uint32_t maxLength() const { return m_maxLength; }

    // Appends every message completed by these bytes to `frames`, header first,
    // without the length field. A length field under 10 or above the maximum is
    // a fatal error naming the length: the messages completed before it are
    // still appended, the body is never read, and further input is refused
    // until reset().
    std::optional<Error> feed(const std::uint8_t* data, std::size_t size,
                              std::vector<std::vector<std::uint8_t>>& frames);

    // Some bytes of an unfinished message (its length field included) are held.
    bool midFrame() const { return m_lengthHave > 0 || m_inBody; }
    // Bytes of the unfinished message received so far, its length field included.
    std::size_t pendingBytes() const { return m_inBody ? 4 + m_frame.size() : m_lengthHave; }
    // Messages completed since the last reset, so a caller can tell a new
    // partial message from the one it saw before.
    std::uint64_t framesCompleted() const { return m_completed; }
    // Bytes reserved for the unfinished message's body.
    std::size_t bufferCapacity() const { return m_frame.capacity(); }
    bool failed() const { return m_failed; }
    // Forgets any partial message and a previous failure (a new connection).
    void reset();

private:
    std::uint32_t m_maxLength;
    std::uint8_t m_lengthBytes[4] = {};
    std::size_t m_lengthHave = 0;
    bool m_inBody = false;
    std::uint32_t m_need = 0;
    std::vector<std::uint8_t> m_frame;
    std::uint64_t m_consumed = 0; // stream offset, for error reports
    std::uint64_t m_completed = 0;
    bool m_failed = false;
};

} // namespace tovik::hsms
