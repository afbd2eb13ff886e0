#include "secsi_block.h"

#include <algorithm>

namespace tovik::secsi {

uint16_t checksum(const uint8_t* data, std::size_t size) {
    uint32_t sum = 0;
    for (std::size_t i = 0; i < size; ++i)
        sum += data[i];
    return static_cast<uint16_t>(sum & 0xffff);
}

uint32_t blockCount(std::size_t messageSize) {
    const std::size_t body = messageSize > kHeaderSize ? messageSize - kHeaderSize : 0;
    const std::size_t blocks = (body + kMaxBlockData - 1) / kMaxBlockData;
    return static_cast<uint32_t>(std::max<std::size_t>(1, blocks));
}

std::vector<uint8_t> frameBlock(const std::vector<uint8_t>& message, uint32_t index, bool rBit) {
    const uint32_t count = blockCount(message.size());
    const std::size_t bodySize = message.size() - kHeaderSize;
    const std::size_t from = std::size_t{index} * kMaxBlockData;
    const std::size_t dataSize = std::min(kMaxBlockData, bodySize - std::min(bodySize, from));
    const uint16_t number = static_cast<uint16_t>(index + 1);

    std::vector<uint8_t> frame;
    frame.reserve(1 + kHeaderSize + dataSize + 2);
    frame.push_back(static_cast<uint8_t>(kHeaderSize + dataSize));
    frame.insert(frame.end(), message.begin(), message.begin() + kHeaderSize);
    frame[1] = static_cast<uint8_t>((frame[1] & 0x7f) | (rBit ? 0x80 : 0));
    frame[5] = static_cast<uint8_t>(((number >> 8) & 0x7f) | (index + 1 == count ? 0x80 : 0));
    frame[6] = static_cast<uint8_t>(number & 0xff);
    const auto dataBegin = message.begin() + static_cast<std::ptrdiff_t>(kHeaderSize + from);
    frame.insert(frame.end(), dataBegin, dataBegin + static_cast<std::ptrdiff_t>(dataSize));
    const uint16_t sum = checksum(frame.data() + 1, frame.size() - 1);
    frame.push_back(static_cast<uint8_t>(sum >> 8));
    frame.push_back(static_cast<uint8_t>(sum & 0xff));
    return frame;
}

std::string checkSendable(const std::vector<uint8_t>& message) {
    if (message.size() < kHeaderSize)
        return "message of " + std::to_string(message.size()) +
               " bytes is shorter than the 10-byte header";
    if (message.size() > kMaxMessageSize)
        return "message of " + std::to_string(message.size()) + " bytes needs more than " +
               std::to_string(kMaxBlocks) + " blocks";
    return {};
}

} // namespace tovik::secsi
