#pragma once
// Open transactions: primaries that still wait for their reply. The view keeps
// two lists, SentPrimaries (the peer owes the reply) and ReceivedPrimaries (the
// user owes it). Records stay in insertion order and every search takes the
// first hit from the head; a list owns its records.
#include "CHVeltSecsII.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <string_view>

namespace tovik {

class CHPrimaryMsg {
public:
    CHPrimaryMsg(std::string message, std::string keyText, uint32_t keyNumber,
                 CHVeltSecsII* codec, uint32_t created);
    virtual ~CHPrimaryMsg() = default;
    CHPrimaryMsg(const CHPrimaryMsg&) = delete;
    CHPrimaryMsg& operator=(const CHPrimaryMsg&) = delete;

    // Does the received message settle this transaction? The device id, R-bit
    // and W-bit never take part. With anyReply, system bytes do not have to
    // match (the user pairing a definition with a waiting primary).
    bool IsAnsweredBy(std::string_view received, bool anyReply, std::string_view keyText,
                      uint32_t keyNumber) const;

    uint32_t Created;
    std::string Message;
    std::string KeyText;
    uint32_t KeyNumber;
    CHVeltSecsII* Codec; // not owned; decodes S9 reports while matching

private:
    bool headerInBody(std::string_view received, std::string_view headerHex) const;
};

class CHPrimaryMsgList {
public:
    CHPrimaryMsgList() = default;
    CHPrimaryMsgList(const CHPrimaryMsgList&) = delete;
    CHPrimaryMsgList& operator=(const CHPrimaryMsgList&) = delete;

    // Records only a primary that expects a reply (odd function, W-bit set);
    // otherwise, or for a text too short to hold a header, adds nothing.
    CHPrimaryMsg* AddPrimary(std::string_view message, std::string_view keyText = {},
                             uint32_t keyNumber = 0);
    CHPrimaryMsg* FindAnswered(std::string_view received, bool anyReply,
                               std::string_view keyText = {}, uint32_t keyNumber = 0) const;
    bool RemoveAnswered(std::string_view received, std::string_view keyText = {},
                        uint32_t keyNumber = 0);
    // By identity; the keys play no part.
    bool RemoveRecord(const CHPrimaryMsg* record, std::string_view keyText = {},
                      uint32_t keyNumber = 0);
    // The oldest record whose age passed Timeout, in 32-bit tick arithmetic.
    CHPrimaryMsg* FindExpired() const { return FindExpired(TickNow()); }
    CHPrimaryMsg* FindExpired(uint32_t now) const;
    void RemoveAll();

    std::size_t GetCount() const { return m_records.size(); }
    bool IsEmpty() const { return m_records.empty(); }
    CHPrimaryMsg* GetHead() const { return m_records.empty() ? nullptr : m_records.front().get(); }

    int32_t Timeout = 5000; // milliseconds
    CHVeltSecsII* Codec = nullptr;
    // Told of each record added: the view's timer sleeps while nothing waits.
    std::function<void()> OnAdded;

    // The clock records are stamped with (TickCount).
    static uint32_t TickNow();

private:
    std::list<std::unique_ptr<CHPrimaryMsg>> m_records;
};

} // namespace tovik
