#pragma once
// The SECS-II message codec: holds one message and converts it between hex
// text, SML text and header fields. Plain C++ over bytes; no Qt.
//
// Properties keep the component's names as Get/Set pairs. Texts are 8-bit
// (std::string); hex texts are written in lower case.
//
// Failure state: a load (SetHexMessage, SetSmlText) that fails leaves an
// empty message (no body) with whatever header could be read (all zero when
// none), and GetLastError() describes the fault; a successful load clears it.
#include <cstdint>
#include <memory>
#include <string>

namespace tovik {

namespace secs2 {
struct Message; // header + item tree, see message.h
}

class CVeltSecsII {
public:
    CVeltSecsII();
    CVeltSecsII(const CVeltSecsII& other);
    CVeltSecsII& operator=(const CVeltSecsII& other);
    virtual ~CVeltSecsII();

    // HexMessage: put loads from hex (header then body); get returns it.
    std::string GetHexMessage() const;
    void SetHexMessage(const std::string& hex);

    // SmlText: put loads from SML text; get returns SML text.
    std::string GetSmlText() const;
    void SetSmlText(const std::string& sml);

    int32_t GetStream() const;
    int32_t GetFunction() const;
    bool GetWBit() const;

    // 15-bit device id (header bytes 0-1 without bit 15); 32767 on control messages.
    int32_t GetDevice() const;
    void SetDevice(int32_t device);

    // The whole 16-bit header bytes 0-1; 65535 marks an HSMS control message.
    int32_t GetSessionID() const;
    void SetSessionID(int32_t session);

    // HSMS type fields (header bytes 4 and 5). Writing either makes the
    // header an HSMS header.
    int16_t GetPType() const;
    void SetPType(int16_t ptype);
    int16_t GetSType() const;
    void SetSType(int16_t stype);

    // SType of an HSMS control message (1 Select.req, 5 Linktest.req, ...), else 0.
    int32_t GetControlType() const;

    // True when the header is an HSMS header.
    bool GetHsmsFormat() const;

    // System bytes: high word (bytes 6-7) and low word (bytes 8-9).
    int32_t GetSourceID() const;
    void SetSourceID(int32_t source);
    int32_t GetTransactionID() const;
    void SetTransactionID(int32_t transaction);

    // Gives the loaded message the system bytes of the message given as hex
    // text; a message loaded without a stream and function (a bare body such
    // as "<b 0>") also takes the given primary's stream and function + 1.
    void ReplyTo(const std::string& primaryHex);

    // Item access: "[n]" is the n-th value of a binary (or numeric) item that
    // is the body; ItemValue gives it as decimal text.
    void SetItemPath(const std::string& path);
    int32_t GetItemFound() const;
    std::string GetItemValue() const;

    // Property 7: written false by the Connect command; kept, no effect.
    void SetProperty7(bool value);
    bool GetProperty7() const;

    // Additions to the component's interface.
    const std::string& GetLastError() const; // empty after a good load
    std::size_t BodySize() const;            // encoded body length in bytes

protected:
    secs2::Message& message();
    const secs2::Message& message() const;

private:
    std::unique_ptr<secs2::Message> m_msg;
    std::string m_itemPath;
    std::string m_lastError;
    bool m_property7 = true;
};

} // namespace tovik
