// Feeds arbitrary bytes to the message file loader and the parser, and the
// stored form of what loaded back to the loader. Checks what every loaded
// definition must look like, whatever the input.
#include "CHSmlYacc.h"
#include "MsgFileFormat.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string_view>

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

void checkDefinitions(const tovik::CHOneMsgList& list) {
    for (const auto& msg : list) {
        if (!msg->m_bStructure) {
            check(msg->m_strText.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos);
        } else if (!msg->m_strText.empty()) {
            // Before unescaping the text is CR LF lines without empty ones; an
            // escape can spell a CR or LF, so only the end is certain.
            check(msg->m_strText.size() >= 2);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    tovik::CHOneMsgList list;
    const tovik::MsgFileLoad load = tovik::LoadMsgFileText(bytes, list);
    check(load.parse.ok == load.diagnostics.empty());
    checkDefinitions(list);

    // Whatever was loaded can be stored and loaded again.
    tovik::CHOneMsgList again;
    tovik::LoadMsgFileText(tovik::StoreMsgFile(list), again);
    checkDefinitions(again);

    // The parser on its own also takes unescaped high bytes and NULs.
    std::ostringstream diag;
    tovik::CHOneMsgList raw;
    tovik::ParseSmlText(raw, bytes, diag);
    return 0;
}
