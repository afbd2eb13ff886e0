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
//
// Header kinds. Hex text loads an HSMS header when byte 4 is 0x00 (PType 0;
// on SECS-I that byte would carry the E-bit, which every whole message has
// set), else a SECS-I header. SML text loads a SECS-I header: device 0, R-bit
// clear, E-bit set, block 1 (bytes 4-5 = 80 01), system bytes 0. Writing
// PType or SType turns the header into an HSMS header. PType and SType read 0
// on a SECS-I header, so such a message always counts as a data message.
//
// SML text without a stream-and-function part ("<b 0>") loads stream 0,
// function 0 and prints back without that part; ReplyTo fills it in.
// Printing: see sml_print.cpp for the escapes that make
// SetSmlText(GetSmlText()) give back the same bytes for every item format.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
    // The same as bytes, the form the drivers carry inside the program.
    std::vector<uint8_t> GetMessage() const;
    void SetMessage(const uint8_t* data, std::size_t size);

    // SmlText: put loads from SML text; get returns SML text.
    std::string GetSmlText() const;
    void SetSmlText(const std::string& sml);

    int32_t GetStream() const;
    int32_t GetFunction() const;
    bool GetWBit() const;

    // 15-bit device id (header bytes 0-1 without bit 15); 32767 on control
    // messages. Set writes bits 0-14; bit 15 is kept on a SECS-I header (the
    // R-bit) and cleared on an HSMS header (there bytes 0-1 are the session id).
    int32_t GetDevice() const;
    void SetDevice(int32_t device);

    // The whole 16-bit header bytes 0-1; 65535 marks an HSMS control message.
    int32_t GetSessionID() const;
    void SetSessionID(int32_t session);

    // HSMS type fields (header bytes 4 and 5); 0 on a SECS-I header. Writing
    // either makes the header an HSMS header.
    int16_t GetPType() const;
    void SetPType(int16_t ptype);
    int16_t GetSType() const;
    void SetSType(int16_t stype);

    // SType of an HSMS control message (session 65535; 1 Select.req,
    // 5 Linktest.req, ...), else 0.
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
    // as "<b 0>") also takes the given primary's stream and function + 1,
    // W-bit clear. Hex text that is not a whole header changes nothing.
    void ReplyTo(const std::string& primaryHex);

    // Item access. A path is a series of "[n]" steps from the body: a step
    // into a list takes its n-th element ("[1][0]"), a last step into a
    // binary, boolean or numeric item takes its n-th value. ItemValue gives a
    // value as decimal text (floats as the shortest exact text); a whole item
    // as its text (ASCII, JIS-8, 2-byte characters), its element count
    // (list) or its values separated by blanks. ItemFound is 0 (and ItemValue
    // empty) when the path addresses nothing.
    void SetItemPath(const std::string& path);
    int32_t GetItemFound() const;
    std::string GetItemValue() const;

    // Property 7: written false by the Connect command; kept, no effect.
    void SetProperty7(bool value);
    bool GetProperty7() const;

    // Additions to the component's interface.
    const std::string& GetLastError() const; // empty after a good load
    std::size_t BodySize() const;            // encoded body length in bytes
    // What was loaded, in one line: "s1f1w, SECS-I header, 6-byte body"
    // ("no stream/function" in place of "s1f1w" when asked to leave it out).
    std::string Summary(bool withStreamFunction = true) const;

protected:
    secs2::Message& message();
    const secs2::Message& message() const;

private:
    void decodeLoaded(); // header and body bytes are in place
    std::unique_ptr<secs2::Message> m_msg;
    std::string m_itemPath;
    std::string m_lastError;
    bool m_property7 = true;
};

} // namespace tovik
