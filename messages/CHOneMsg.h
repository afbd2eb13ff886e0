#pragma once
// One message definition of the document. Plain C++ so that the file parser,
// the command-line tool and the fuzzer use the very record the document holds.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tovik {

class CHOneMsg {
public:
    std::string m_strName;
    // true: SML text ("Begin List" block); false: hex dump ("Begin Msg" block).
    bool m_bStructure = true;
    std::string m_strText;
    std::string m_strComment;
    // Decoded from the text by the scratch codec; never stored in the file.
    uint16_t m_nStream = 0;
    uint16_t m_nFunction = 0;
    // The codec's error for a text that does not load, empty when it loads;
    // decoded with the stream and function, never stored in the file.
    std::string m_strLoadError;
};

// The owner of a list owns its records: removing one deletes it unless the
// caller takes the unique_ptr.
using CHOneMsgList = std::vector<std::unique_ptr<CHOneMsg>>;

} // namespace tovik
