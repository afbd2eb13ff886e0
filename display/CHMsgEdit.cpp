#include "CHMsgEdit.h"

#include "CHVeltSecsII.h"
#include "CTovikarDoc.h"
#include "MsgDecode.h"

#include <hex.h>

#include <cstdio>

namespace tovik {

CHMsgEntries CHMsgEntries::From(const CHOneMsg& msg) {
    return CHMsgEntries{msg.m_strName, msg.m_bStructure ? 1 : 0, msg.m_strText, msg.m_strComment};
}

std::string NewMessageName(const CTovikarDoc& doc) {
    char buf[32];
    for (int n = 1; n <= 9999; ++n) {
        std::snprintf(buf, sizeof buf, "New Message #%d", n);
        if (doc.FindByName(buf) == nullptr)
            return buf;
    }
    return {};
}

std::string PasteName(const CTovikarDoc& doc, const std::string& name) {
    if (doc.FindByName(name) == nullptr)
        return name;
    for (int n = 1; n <= 9999; ++n) {
        std::string candidate = name + " (Copy #" + std::to_string(n) + ")";
        if (doc.FindByName(candidate) == nullptr)
            return candidate;
    }
    return {};
}

EntryCheck CheckEntries(const CTovikarDoc& doc, const CHOneMsg& msg, const CHMsgEntries& e) {
    if (e.name == msg.m_strName && (e.type != 0) == msg.m_bStructure && e.comment == msg.m_strComment &&
        e.text == msg.m_strText)
        return EntryCheck::Unchanged;
    if (e.name.empty())
        return EntryCheck::EmptyName;
    if (e.name != msg.m_strName && doc.FindByName(e.name) != nullptr)
        return EntryCheck::NameTaken;
    return EntryCheck::Accept;
}

std::string EntryCheckText(EntryCheck check, const CHMsgEntries& e) {
    switch (check) {
    case EntryCheck::EmptyName:
        return "You must enter valid name.";
    case EntryCheck::NameTaken:
        return "'" + e.name + "' has been already registered. Specify another name.";
    default:
        return {};
    }
}

void ApplyEntries(CHOneMsg& msg, const CHMsgEntries& e, CHVeltSecsII& scratch) {
    msg.m_strName = e.name;
    msg.m_bStructure = e.type != 0;
    msg.m_strText = e.text;
    msg.m_strComment = e.comment;
    DecodeStreamFunction(msg, scratch);
}

bool CollectHexDigits(const std::string& text, std::string& digits, std::string& error) {
    digits.clear();
    digits.reserve(text.size());
    for (const char c : text) {
        if (c == '\t' || c == '\n' || c == '\r' || c == ' ')
            continue;
        if (hexDigitValue(c) < 0) {
            error = "'Message HEX Dump' must consist of '0'-'9' or 'a'-'f'.";
            return false;
        }
        digits.push_back(c);
    }
    if (digits.size() < 20) {
        error = "'Message HEX Dump' should be longer than 20 bytes.";
        return false;
    }
    if (digits.size() % 2 != 0) {
        error = "'Message HEX Dump' should be even length.";
        return false;
    }
    return true;
}

std::string CrLfLines(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

std::string LayoutHexDump(const std::string& digits) {
    std::string out;
    out.reserve(digits.size() * 3 / 2 + digits.size() / 10 + 2);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && i % 20 == 0)
            out += "\r\n";
        out += digits[i];
        if (i % 2 == 1)
            out += ' ';
    }
    return out;
}

std::string MessageVerdict(const std::string& text, int type, CHVeltSecsII& codec, bool& loads) {
    loads = false;
    if (type != 0) {
        codec.SetSml(text);
    } else {
        std::string digits;
        std::string error;
        if (!CollectHexDigits(text, digits, error))
            return error;
        codec.SetHexMessage(digits);
    }
    if (!codec.GetLastError().empty())
        return codec.GetLastError();
    loads = true;
    return codec.Summary();
}

bool ConvertMessageText(std::string& text, int fromType, int toType, CHVeltSecsII& codec, std::string& error) {
    if (fromType != 0) {
        codec.SetSml(text);
    } else {
        std::string digits;
        if (!CollectHexDigits(text, digits, error))
            return false;
        codec.SetHexMessage(digits);
    }
    text = toType != 0 ? CrLfLines(codec.GetSmlText()) : LayoutHexDump(codec.GetHexMessage());
    return true;
}

} // namespace tovik
