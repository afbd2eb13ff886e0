#pragma once
// Parser of the message file language. Hand-written over the scanner's
// tokens: the grammar is flat (a file is a sequence of definitions, a body a
// sequence of characters), so a small state machine replaces the parse stack
// and no input can make it recurse or grow anything but the body text.
#include "CHOneMsg.h"
#include "CHSmlLex.h"

#include <iosfwd>
#include <string>
#include <string_view>

namespace tovik {

class CHSmlYacc {
public:
    // `diag` receives the two error lines of a syntax error.
    CHSmlYacc(std::string_view text, CHOneMsgList& target, std::ostream& diag);

    // Empties the target, then appends every definition completed before the
    // end of text or the first syntax error. True when the whole text was
    // accepted.
    bool Parse();

    // After a failed Parse: the line the scanner stood on and the text of the
    // token that could not be taken.
    int ErrorLine() const { return m_errorLine; }
    const std::string& LastToken() const { return m_lastToken; }

private:
    void reportError(const CHSmlLex::Token& token);

    CHSmlLex m_lex;
    CHOneMsgList& m_target;
    std::ostream& m_diag;
    int m_errorLine = 0;
    std::string m_lastToken;
};

struct ParseOutcome {
    bool ok = true;
    int errorLine = 0;     // line of the syntax error, 0 when ok
    std::string lastToken; // text of the token that could not be taken
};

// Builds a fresh scanner and parser for the call; nothing carries over from
// one call to the next. Error lines go to `diag`:
//   (<line>) parse error
//   Last token was "<token text>"
bool ParseSmlText(CHOneMsgList& target, std::string_view text, std::ostream& diag,
                  ParseOutcome* outcome = nullptr);
// As above, with the error lines on standard output.
bool ParseSmlText(CHOneMsgList& target, std::string_view text);

} // namespace tovik
