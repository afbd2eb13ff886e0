#pragma once
// Scanner of the message file language. One instance per parse and no shared
// state, so two documents can be read in one process. Input is the 7-bit text
// the loader prepared; a NUL ends it.
#include <string>
#include <string_view>

namespace tovik {

class CHSmlLex {
public:
    enum State { INITIAL, SKIP_COMMENT, DOC_COMMENT, LIST_BODY, MSG_BODY };

    enum class TokenKind { EndOfText, Name, BeginList, EndList, BeginMsg, EndMsg, ListChar, MsgChar, Other };

    struct Token {
        TokenKind kind = TokenKind::EndOfText;
        std::string value;     // NAME: the text between the quotes
        char ch = 0;           // LIST_CHAR / MSG_CHAR: the character; Other: upper-cased
        std::string_view text; // the matched text, for error reports
    };

    explicit CHSmlLex(std::string_view text);

    // Scans up to and including the next token; skipped text (blanks,
    // comments) is consumed on the way.
    Token Next();

    State CurrentState() const { return m_state; }
    const std::string& DocComment() const { return m_strDocComment; }
    int Line() const { return m_nLine; }

private:
    // Length of "<first> blanks <second>" at the read position (keywords in
    // any letter case), or 0.
    std::size_t matchKeywords(std::string_view first, std::string_view second) const;
    std::size_t endOfLine(std::size_t from) const;

    std::string_view m_text;
    std::size_t m_pos = 0;
    State m_state = INITIAL;
    State m_nReturnState = INITIAL;
    std::string m_strDocComment;
    int m_nLine = 1;
};

} // namespace tovik
