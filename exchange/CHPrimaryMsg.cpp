#include "CHPrimaryMsg.h"

#include "CHMsgHeader.h"

#include <cstdio>
#include <cstdlib>

namespace tovik {

namespace {
// An S9 report whose body is the ten bytes of the offending header.
bool carriesHeader(const CHMsgHeader& h) {
    return h.Stream == 9 &&
           (h.Function == 1 || h.Function == 3 || h.Function == 5 || h.Function == 7 ||
            h.Function == 13);
}
} // namespace

CHPrimaryMsg::CHPrimaryMsg(std::string message, std::string keyText, uint32_t keyNumber,
                           CHVeltSecsII* codec, uint32_t created)
    : Created(created), Message(std::move(message)), KeyText(std::move(keyText)),
      KeyNumber(keyNumber), Codec(codec) {}

// Compares the ten binary values of the received body with the first twenty
// digits of headerHex. The codec gives each value as decimal text; it is
// written back as two lower-case digits, so the comparison keeps the case of
// the stored text.
bool CHPrimaryMsg::headerInBody(std::string_view received, std::string_view headerHex) const {
    if (!Codec)
        return false;
    Codec->SetHexMessage(std::string(received));
    for (int i = 0; i < 10; ++i) {
        char path[8];
        std::snprintf(path, sizeof path, "[%d]", i);
        const std::string value = Codec->GetItemValue(path);
        const long n = value.empty() ? 0 : std::strtol(value.c_str(), nullptr, 10);
        char digits[24];
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned>(n));
        const std::size_t at = static_cast<std::size_t>(2 * i);
        if (headerHex.size() < at + 2 || digits[0] != headerHex[at] || digits[1] != headerHex[at + 1])
            return false;
    }
    return true;
}

bool CHPrimaryMsg::IsAnsweredBy(std::string_view received, bool anyReply,
                                std::string_view keyText, uint32_t keyNumber) const {
    if (KeyText != keyText || KeyNumber != keyNumber)
        return false;
    const CHMsgHeader mine(Message);
    const CHMsgHeader got(received);

    if (carriesHeader(got))
        return headerInBody(received, Message);

    if (got.Stream == 9 && got.Function == 9) {
        // S9F9 carries the header as the codec writes it after ReplyTo, so
        // compare against that form of the primary, not the stored text.
        if (!Codec)
            return false;
        Codec->SetHexMessage(Message);
        Codec->ReplyTo(Message);
        const std::string replyForm = Codec->GetHexMessage();
        return headerInBody(received, replyForm);
    }

    if (got.Stream != mine.Stream)
        return false;
    // Function 0 is an abort (SxF0): it answers any function of the stream.
    if (got.Function != 0 && got.Function != mine.Function + 1)
        return false;
    if (anyReply)
        return true;
    return got.SystemHigh == mine.SystemHigh && got.SystemLow == mine.SystemLow;
}

uint32_t CHPrimaryMsgList::TickNow() { return TickCount(); }

CHPrimaryMsg* CHPrimaryMsgList::AddPrimary(std::string_view message, std::string_view keyText,
                                           uint32_t keyNumber) {
    if (message.size() < 20)
        return nullptr;
    const CHMsgHeader h(message);
    if ((h.Function & 1) == 0 || !h.WBit)
        return nullptr;
    m_records.push_back(std::make_unique<CHPrimaryMsg>(std::string(message), std::string(keyText),
                                                       keyNumber, Codec, TickNow()));
    if (OnAdded)
        OnAdded();
    return m_records.back().get();
}

CHPrimaryMsg* CHPrimaryMsgList::FindAnswered(std::string_view received, bool anyReply,
                                             std::string_view keyText, uint32_t keyNumber) const {
    for (const auto& r : m_records)
        if (r->IsAnsweredBy(received, anyReply, keyText, keyNumber))
            return r.get();
    return nullptr;
}

bool CHPrimaryMsgList::RemoveAnswered(std::string_view received, std::string_view keyText,
                                      uint32_t keyNumber) {
    for (auto it = m_records.begin(); it != m_records.end(); ++it) {
        if ((*it)->IsAnsweredBy(received, false, keyText, keyNumber)) {
            m_records.erase(it);
            return true;
        }
    }
    return false;
}

bool CHPrimaryMsgList::RemoveRecord(const CHPrimaryMsg* record, std::string_view, uint32_t) {
    for (auto it = m_records.begin(); it != m_records.end(); ++it) {
        if (it->get() == record) {
            m_records.erase(it);
            return true;
        }
    }
    return false;
}

CHPrimaryMsg* CHPrimaryMsgList::FindExpired(uint32_t now) const {
    for (const auto& r : m_records)
        if (r->Created + static_cast<uint32_t>(Timeout) < now)
            return r.get();
    return nullptr;
}

void CHPrimaryMsgList::RemoveAll() {
    while (!m_records.empty())
        m_records.pop_front();
}

} // namespace tovik
