#include "MsgFileCommands.h"

#include "CVeltSecsII.h"
#include "MsgDecode.h"
#include "MsgFileFormat.h"
#include "bytetext.h"

#include <ostream>

namespace tovik {

namespace {

enum Status { kOk, kSyntaxError, kUnreadable };

// Both failures are bad input to the tool: exit status 1.
int exitStatus(Status status) {
    return status == kOk ? 0 : 1;
}

// Reads and parses; `list` holds what came before a syntax error.
Status loadForCommand(const std::string& path, CHOneMsgList& list, MsgFileLoad& load, std::ostream& err) {
    std::string bytes;
    std::string error;
    if (!ReadMsgFile(path, bytes, error)) {
        err << EscapeControlBytes(path) << ": cannot read: " << error << '\n';
        return kUnreadable;
    }
    load = LoadMsgFileText(bytes, list);
    return load.parse.ok ? kOk : kSyntaxError;
}

void reportSyntaxError(const std::string& path, const MsgFileLoad& load, std::ostream& err) {
    err << load.diagnostics << EscapeControlBytes(path) << ':' << load.parse.errorLine << ": Syntax error\n";
    err.flush();
}

} // namespace

int RunListCommand(const std::string& path, std::ostream& out, std::ostream& err) {
    CHOneMsgList list;
    MsgFileLoad load;
    const Status status = loadForCommand(path, list, load, err);
    if (status == kUnreadable)
        return exitStatus(status);
    CVeltSecsII scratch;
    for (const auto& msg : list) {
        DecodeStreamFunction(*msg, scratch);
        // A tab or line break in a name would forge a column or a line.
        out << EscapeControlBytes(msg->m_strName) << "\tS" << msg->m_nStream << 'F' << msg->m_nFunction << '\t'
            << (msg->m_bStructure ? "SML" : "HEX") << '\n';
    }
    out.flush();
    if (status == kSyntaxError)
        reportSyntaxError(path, load, err);
    return exitStatus(status);
}

int RunFormatCommand(const std::string& path, std::ostream& out, std::ostream& err) {
    CHOneMsgList list;
    MsgFileLoad load;
    const Status status = loadForCommand(path, list, load, err);
    if (status == kSyntaxError)
        reportSyntaxError(path, load, err);
    if (status != kOk)
        return exitStatus(status);
    out << StoreMsgFile(list);
    out.flush();
    return kOk;
}

} // namespace tovik
