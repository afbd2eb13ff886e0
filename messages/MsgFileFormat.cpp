#include "MsgFileFormat.h"

#include "MsgFileText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>

namespace tovik {

namespace {

constexpr std::string_view kHeader =
    "/***************************************\r\n"
    " Pelmo Data File\r\n"
    "\r\n"
    " Tovik message definitions. Names in quotes, bodies between Begin and End.\r\n"
    "***************************************/\r\n"
    "\r\n";

} // namespace

std::string StoreMsgFile(const CHOneMsgList& list) {
    std::size_t size = kHeader.size();
    for (const auto& msg : list)
        size += msg->m_strName.size() + msg->m_strComment.size() + msg->m_strText.size() + 40;
    std::string out;
    out.reserve(size);
    out += kHeader;
    for (const auto& msg : list) {
        out += '\'';
        out += msg->m_strName;
        out += "'\r\n";
        if (!msg->m_strComment.empty()) {
            out += "/**\r\n";
            out += msg->m_strComment;
            out += "*/\r\n";
        }
        out += msg->m_bStructure ? "Begin List\r\n" : "Begin Msg\r\n";
        out += TrimTrailingCrLf(msg->m_strText);
        out += "\r\n";
        out += msg->m_bStructure ? "End List\r\n" : "End Msg\r\n";
        out += "\r\n";
    }
    return out;
}

MsgFileLoad LoadMsgFileText(std::string_view fileBytes, CHOneMsgList& list) {
    if (fileBytes.size() > kMsgFileReadLimit)
        fileBytes = fileBytes.substr(0, kMsgFileReadLimit);
    fileBytes = fileBytes.substr(0, fileBytes.find('\0'));

    MsgFileLoad result;
    std::ostringstream diag;
    ParseSmlText(list, EscapeHighBytes(fileBytes), diag, &result.parse);
    result.diagnostics = diag.str();
    for (auto& msg : list) {
        msg->m_strName = UnescapeHex(msg->m_strName);
        msg->m_strComment = UnescapeHex(msg->m_strComment);
        msg->m_strText = UnescapeHex(msg->m_strText);
    }
    return result;
}

bool ReadMsgFile(const std::string& path, std::string& bytes, std::string& error) {
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    bytes.resize(kMsgFileReadLimit);
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
    if (std::ferror(file.get())) {
        error = std::strerror(errno);
        bytes.clear();
        return false;
    }
    bytes.resize(got);
    return true;
}

} // namespace tovik
