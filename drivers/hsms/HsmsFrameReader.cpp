#include "HsmsFrameReader.h"

#include <algorithm>
#include <string>

namespace tovik::hsms {

void FrameReader::reset() {
    m_lengthHave = 0;
    m_inBody = false;
    m_need = 0;
    m_frame = {};
    m_consumed = 0;
    m_completed = 0;
    m_failed = false;
}

std::optional<Error> FrameReader::feed(const std::uint8_t* data, std::size_t size,
                                       std::vector<std::vector<std::uint8_t>>& frames) {
    if (m_failed)
        return Error{"input after a framing error", static_cast<std::size_t>(m_consumed), true};
    std::size_t pos = 0;
    while (pos < size) {
        if (!m_inBody) {
            const std::size_t take = std::min<std::size_t>(4 - m_lengthHave, size - pos);
            std::copy_n(data + pos, take, m_lengthBytes + m_lengthHave);
            m_lengthHave += take;
            pos += take;
            if (m_lengthHave < 4)
                break;
            const std::uint32_t length =
                (std::uint32_t{m_lengthBytes[0]} << 24) | (std::uint32_t{m_lengthBytes[1]} << 16) |
                (std::uint32_t{m_lengthBytes[2]} << 8) | std::uint32_t{m_lengthBytes[3]};
            if (length < kHeaderLength || length > m_maxLength) {
                m_failed = true;
                std::string text = "message length " + std::to_string(length);
                if (length < kHeaderLength)
                    text += " is shorter than the 10-byte header";
                else
                    text += " is above the maximum of " + std::to_string(m_maxLength) + " bytes";
                return Error{std::move(text), static_cast<std::size_t>(m_consumed), true};
            }
            m_lengthHave = 0;
            m_inBody = true;
            m_need = length;
            m_frame.clear();
        }
        // A peer may announce a large message and stall: the buffer grows with
        // what arrives (doubling, never past the announced length) instead of
        // being sized by the length field.
        const std::size_t take = std::min<std::size_t>(m_need - m_frame.size(), size - pos);
        if (m_frame.size() + take > m_frame.capacity())
            m_frame.reserve(std::min<std::size_t>(
                m_need, std::max(m_frame.size() + take, 2 * m_frame.capacity())));
        m_frame.insert(m_frame.end(), data + pos, data + pos + take);
        pos += take;
        if (m_frame.size() == m_need) {
            frames.push_back(std::move(m_frame));
            m_frame = {};
            m_inBody = false;
            m_consumed += 4 + std::uint64_t{m_need};
            ++m_completed;
            m_need = 0;
        }
    }
    return std::nullopt;
}

} // namespace tovik::hsms
