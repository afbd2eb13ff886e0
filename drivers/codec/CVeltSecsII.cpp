// The codec's properties: loading and reading hex and SML, header fields,
// ReplyTo and item access.
#include "CVeltSecsII.h"

#include "hex.h"
#include "message.h"

namespace tovik {

using secs2::Message;

namespace {

// A SECS-I style header for messages loaded from SML: device 0, R-bit clear,
// last block (E-bit) of block 1, system bytes 0.
void smlHeader(Message& m) {
    const uint8_t sf2 = m.header[2], sf3 = m.header[3];
    m.header = {};
    m.header[2] = sf2;
    m.header[3] = sf3;
    m.header[4] = 0x80;
    m.header[5] = 0x01;
    m.hsms = false;
}

uint16_t word(const Message& m, std::size_t at) {
    return static_cast<uint16_t>((m.header[at] << 8) | m.header[at + 1]);
}

void setWord(Message& m, std::size_t at, int32_t v) {
    m.header[at] = static_cast<uint8_t>((v >> 8) & 0xff);
    m.header[at + 1] = static_cast<uint8_t>(v & 0xff);
}

} // namespace

CVeltSecsII::CVeltSecsII() : m_msg(std::make_unique<Message>()) {}
CVeltSecsII::CVeltSecsII(const CVeltSecsII& other)
    : m_msg(std::make_unique<Message>(*other.m_msg)), m_itemPath(other.m_itemPath),
      m_lastError(other.m_lastError), m_property7(other.m_property7) {}
CVeltSecsII& CVeltSecsII::operator=(const CVeltSecsII& other) {
    if (this != &other) {
        *m_msg = *other.m_msg;
        m_itemPath = other.m_itemPath;
        m_lastError = other.m_lastError;
        m_property7 = other.m_property7;
    }
    return *this;
}
CVeltSecsII::~CVeltSecsII() = default;

secs2::Message& CVeltSecsII::message() {
    return *m_msg;
}
const secs2::Message& CVeltSecsII::message() const {
    return *m_msg;
}

std::vector<uint8_t> CVeltSecsII::GetMessage() const {
    std::vector<uint8_t> bytes;
    bytes.reserve(m_msg->header.size() + secs2::encodedBodySize(*m_msg));
    bytes.assign(m_msg->header.begin(), m_msg->header.end());
    secs2::encodeBody(*m_msg, bytes);
    return bytes;
}

std::string CVeltSecsII::GetHexMessage() const {
    return toHex(GetMessage());
}

namespace {
// Start from an empty message but keep the buffers' capacity for the next load.
void clearForLoad(Message& m) {
    m.items.clear();
    m.data.clear();
    m.header = {};
    m.hsms = false;
    m.hasStreamFunction = true;
}
} // namespace

void CVeltSecsII::SetHexMessage(const std::string& hex) {
    Message& m = *m_msg;
    // The usual text starts with the header's 20 digits: the body's digits
    // then go straight into the message's body bytes.
    std::vector<uint8_t> header;
    if (hex.size() >= 20 && fromHex(std::string_view(hex).substr(0, 20), header) &&
        header.size() == 10) {
        clearForLoad(m);
        m_lastError.clear();
        if (fromHex(std::string_view(hex).substr(20), m.data)) {
            std::copy(header.begin(), header.end(), m.header.begin());
            decodeLoaded();
            return;
        }
    }
    // Blanks inside the header, a fault or a short text: read it whole,
    // so that errors count positions from the start of the text.
    std::vector<uint8_t> bytes;
    std::string error;
    if (!fromHex(hex, bytes, &error)) {
        clearForLoad(m);
        m_lastError = "hex: " + error;
        return;
    }
    SetMessage(bytes.data(), bytes.size());
}

void CVeltSecsII::SetMessage(const uint8_t* data, std::size_t size) {
    Message& m = *m_msg;
    clearForLoad(m);
    m_lastError.clear();
    const std::size_t headerBytes = size < 10 ? size : 10;
    std::copy(data, data + headerBytes, m.header.begin());
    if (size < 10) {
        m.hsms = headerBytes >= 5 && m.header[4] == 0;
        m_lastError = "hex: header of " + std::to_string(size) + " bytes, 10 are needed";
        return;
    }
    m.data.assign(data + 10, data + size);
    decodeLoaded();
}

void CVeltSecsII::decodeLoaded() {
    Message& m = *m_msg;
    m.hsms = m.header[4] == 0;
    auto r = secs2::decodeBody(m);
    if (!r)
        m_lastError = "hex: " + r.error().message;
}

std::string CVeltSecsII::GetSmlText() const {
    return secs2::printSml(*m_msg);
}

void CVeltSecsII::SetSmlText(const std::string& sml) {
    Message& m = *m_msg;
    m = Message{};
    m_lastError.clear();
    auto r = secs2::parseSml(sml, m);
    smlHeader(m);
    if (!r)
        m_lastError = r.error().message;
}

int32_t CVeltSecsII::GetStream() const {
    return m_msg->header[2] & 0x7f;
}
int32_t CVeltSecsII::GetFunction() const {
    return m_msg->header[3];
}
bool CVeltSecsII::GetWBit() const {
    return (m_msg->header[2] & 0x80) != 0;
}

int32_t CVeltSecsII::GetDevice() const {
    return word(*m_msg, 0) & 0x7fff;
}
void CVeltSecsII::SetDevice(int32_t device) {
    // SECS-I keeps its R-bit; on HSMS bytes 0-1 are the session id, so the
    // device id is all of it.
    const int32_t keep = m_msg->hsms ? 0 : (word(*m_msg, 0) & 0x8000);
    setWord(*m_msg, 0, keep | (device & 0x7fff));
}

int32_t CVeltSecsII::GetSessionID() const {
    return word(*m_msg, 0);
}
void CVeltSecsII::SetSessionID(int32_t session) {
    setWord(*m_msg, 0, session);
}

int16_t CVeltSecsII::GetPType() const {
    return m_msg->hsms ? m_msg->header[4] : 0;
}
void CVeltSecsII::SetPType(int16_t ptype) {
    m_msg->header[4] = static_cast<uint8_t>(ptype & 0xff);
    m_msg->hsms = true;
}
int16_t CVeltSecsII::GetSType() const {
    return m_msg->hsms ? m_msg->header[5] : 0;
}
void CVeltSecsII::SetSType(int16_t stype) {
    m_msg->header[5] = static_cast<uint8_t>(stype & 0xff);
    m_msg->hsms = true;
}

int32_t CVeltSecsII::GetControlType() const {
    return m_msg->hsms && GetSessionID() == 0xffff ? m_msg->header[5] : 0;
}

bool CVeltSecsII::GetHsmsFormat() const {
    return m_msg->hsms;
}

int32_t CVeltSecsII::GetSourceID() const {
    return word(*m_msg, 6);
}
void CVeltSecsII::SetSourceID(int32_t source) {
    setWord(*m_msg, 6, source);
}
int32_t CVeltSecsII::GetTransactionID() const {
    return word(*m_msg, 8);
}
void CVeltSecsII::SetTransactionID(int32_t transaction) {
    setWord(*m_msg, 8, transaction);
}

void CVeltSecsII::ReplyTo(const std::string& primaryHex) {
    std::vector<uint8_t> bytes;
    if (!fromHex(primaryHex, bytes) || bytes.size() < 10)
        return;
    Message& m = *m_msg;
    std::copy(bytes.begin() + 6, bytes.begin() + 10, m.header.begin() + 6);
    if (!m.hasStreamFunction) {
        m.header[2] = bytes[2] & 0x7f;
        m.header[3] = static_cast<uint8_t>(bytes[3] + 1);
        m.hasStreamFunction = true;
    }
}

void CVeltSecsII::SetItemPath(const std::string& path) {
    m_itemPath = path;
}

namespace {

// Walks a path of "[n]" steps from the body: a step into a list takes its
// n-th element, a last step into an array item takes its n-th value. Returns
// false when the path addresses nothing.
bool resolve(const Message& m, const std::string& path, std::size_t& item, long& value) {
    value = -1;
    if (m.items.empty())
        return false;
    item = 0;
    std::size_t pos = 0;
    while (pos < path.size()) {
        if (path[pos] == ' ') {
            ++pos;
            continue;
        }
        if (path[pos] != '[' || value >= 0)
            return false;
        const std::size_t close = path.find(']', pos);
        if (close == std::string::npos || close == pos + 1 || close - pos > 10)
            return false;
        std::size_t n = 0;
        for (std::size_t i = pos + 1; i < close; ++i) {
            if (path[i] < '0' || path[i] > '9')
                return false;
            n = n * 10 + static_cast<std::size_t>(path[i] - '0');
        }
        pos = close + 1;
        const secs2::Item& it = m.items[item];
        if (it.format == secs2::Format::List) {
            if (n >= it.size)
                return false;
            std::size_t child = item + 1;
            for (std::size_t k = 0; k < n; ++k)
                child = m.items[child].end;
            item = child;
        } else if (secs2::isArrayFormat(it.format)) {
            if (n >= it.size / secs2::elementSize(it.format))
                return false;
            value = static_cast<long>(n);
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

int32_t CVeltSecsII::GetItemFound() const {
    std::size_t item = 0;
    long value = -1;
    return resolve(*m_msg, m_itemPath, item, value) ? 1 : 0;
}

std::string CVeltSecsII::GetItemValue() const {
    std::size_t item = 0;
    long value = -1;
    const Message& m = *m_msg;
    if (!resolve(m, m_itemPath, item, value))
        return {};
    const secs2::Item& it = m.items[item];
    if (value >= 0)
        return secs2::elementText(m, it, static_cast<std::size_t>(value));
    if (it.format == secs2::Format::List)
        return std::to_string(it.size);
    if (secs2::isTextFormat(it.format))
        return std::string(m.data.begin() + it.offset, m.data.begin() + it.offset + it.size);
    if (it.format == secs2::Format::Unicode) {
        std::string out;
        for (uint32_t i = 0; i + 1 < it.size; i += 2) {
            const unsigned u = (m.data[it.offset + i] << 8) | m.data[it.offset + i + 1];
            out += u <= 0xff ? static_cast<char>(u) : '?';
        }
        return out;
    }
    std::string out;
    const std::size_t n = it.size / secs2::elementSize(it.format);
    for (std::size_t i = 0; i < n; ++i) {
        if (i)
            out += ' ';
        out += secs2::elementText(m, it, i);
    }
    return out;
}

void CVeltSecsII::SetProperty7(bool value) {
    m_property7 = value;
}
bool CVeltSecsII::GetProperty7() const {
    return m_property7;
}

const std::string& CVeltSecsII::GetLastError() const {
    return m_lastError;
}

std::size_t CVeltSecsII::BodySize() const {
    return secs2::encodedBodySize(*m_msg);
}

std::string CVeltSecsII::Summary(bool withStreamFunction) const {
    std::string s;
    if (withStreamFunction) {
        s += 's';
        s += std::to_string(GetStream());
        s += 'f';
        s += std::to_string(GetFunction());
        if (GetWBit())
            s += 'w';
    } else {
        s += "no stream/function";
    }
    s += GetHsmsFormat() ? ", HSMS header, " : ", SECS-I header, ";
    s += std::to_string(BodySize());
    s += "-byte body";
    return s;
}

} // namespace tovik
