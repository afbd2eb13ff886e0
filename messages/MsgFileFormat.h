#pragma once
// Storing a definition list as message file text and loading it back.
#include "CHOneMsg.h"
#include "CHSmlYacc.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace tovik {

// A longer file is read only this far; a definition the cut falls into is a
// syntax error.
inline constexpr std::size_t kMsgFileReadLimit = 1048575;

// The exact stored text: the six-line header, then per definition its name
// line, its comment block when it has one, its body block and an empty line.
// Every line ends with CR LF; bytes are written as they are.
std::string StoreMsgFile(const CHOneMsgList& list);

struct MsgFileLoad {
    ParseOutcome parse;      // ok, error line and last token
    std::string diagnostics; // the parser's error lines, empty when ok
};

// Loads file bytes into `list`: keeps at most kMsgFileReadLimit bytes, stops
// at the first NUL, escapes high bytes for the parser, parses, then restores
// escapes in every record's name, comment and text. On a syntax error the
// definitions before it stay in the list.
MsgFileLoad LoadMsgFileText(std::string_view fileBytes, CHOneMsgList& list);

// Reads at most kMsgFileReadLimit bytes of a file. False with `error` set
// when it cannot be opened or read.
bool ReadMsgFile(const std::string& path, std::string& bytes, std::string& error);

} // namespace tovik
