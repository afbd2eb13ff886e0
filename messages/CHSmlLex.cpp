#include "CHSmlLex.h"

namespace tovik {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Case-insensitive match of a lower-case keyword at `pos`.
bool matchWord(std::string_view text, std::size_t pos, std::string_view word) {
    if (text.size() - pos < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (lowerAscii(text[pos + i]) != word[i])
            return false;
    }
    return true;
}

} // namespace

CHSmlLex::CHSmlLex(std::string_view text) : m_text(text.substr(0, text.find('\0'))) {}

std::size_t CHSmlLex::matchKeywords(std::string_view first, std::string_view second) const {
    std::size_t p = m_pos;
    if (!matchWord(m_text, p, first))
        return 0;
    p += first.size();
    const std::size_t blanksStart = p;
    while (p < m_text.size() && isBlank(m_text[p]))
        ++p;
    if (p == blanksStart || !matchWord(m_text, p, second))
        return 0;
    return p + second.size() - m_pos;
}

std::size_t CHSmlLex::endOfLine(std::size_t from) const {
    const std::size_t lf = m_text.find('\n', from);
    return lf == std::string_view::npos ? m_text.size() : lf;
}

CHSmlLex::Token CHSmlLex::Next() {
    const std::size_t n = m_text.size();
    while (m_pos < n) {
        const char c = m_text[m_pos];
        const char next = m_pos + 1 < n ? m_text[m_pos + 1] : '\0';
        switch (m_state) {
        case INITIAL: {
            if (isBlank(c)) {
                while (m_pos < n && isBlank(m_text[m_pos]))
                    ++m_pos;
                continue;
            }
            if (c == '\n') {
                ++m_nLine;
                ++m_pos;
                continue;
            }
            if (c == '*' || (c == '/' && next == '/')) {
                m_pos = endOfLine(m_pos);
                continue;
            }
            if (c == '/' && next == '*') {
                if (m_pos + 2 < n && m_text[m_pos + 2] == '*') {
                    m_strDocComment.clear();
                    m_pos += 3;
                    m_state = DOC_COMMENT;
                } else {
                    m_pos += 2;
                    m_state = SKIP_COMMENT;
                }
                continue;
            }
            if (c == '\'') {
                // The name runs to the last quote of its line.
                const std::size_t eol = endOfLine(m_pos);
                const std::size_t close = m_text.substr(0, eol).rfind('\'');
                if (close != std::string_view::npos && close > m_pos) {
                    Token t;
                    t.kind = TokenKind::Name;
                    t.value = std::string(m_text.substr(m_pos + 1, close - m_pos - 1));
                    t.text = m_text.substr(m_pos, close + 1 - m_pos);
                    m_strDocComment.clear();
                    m_pos = close + 1;
                    return t;
                }
            } else if (std::size_t len = matchKeywords("begin", "list")) {
                Token t;
                t.kind = TokenKind::BeginList;
                t.text = m_text.substr(m_pos, len);
                m_pos += len;
                m_nReturnState = m_state = LIST_BODY;
                return t;
            } else if (std::size_t mlen = matchKeywords("begin", "msg")) {
                Token t;
                t.kind = TokenKind::BeginMsg;
                t.text = m_text.substr(m_pos, mlen);
                m_pos += mlen;
                m_nReturnState = m_state = MSG_BODY;
                return t;
            }
            // Anything else is a token no rule of the grammar takes.
            Token t;
            t.kind = TokenKind::Other;
            t.ch = upperAscii(c);
            t.text = m_text.substr(m_pos, 1);
            ++m_pos;
            return t;
        }
        case SKIP_COMMENT:
            if (c == '*' && next == '/') {
                m_pos += 2;
                m_state = m_nReturnState;
                continue;
            }
            if (c == '\n')
                ++m_nLine;
            ++m_pos;
            continue;
        case DOC_COMMENT:
            if (c == '*' && next == '/') {
                m_pos += 2;
                m_state = INITIAL;
                continue;
            }
            if (c == '\n')
                ++m_nLine;
            m_strDocComment.push_back(c);
            ++m_pos;
            continue;
        case LIST_BODY:
        case MSG_BODY: {
            const bool list = m_state == LIST_BODY;
            if (c == '/' && next == '*') {
                m_pos += 2;
                m_state = SKIP_COMMENT;
                continue;
            }
            if (std::size_t len = matchKeywords("end", list ? "list" : "msg")) {
                Token t;
                t.kind = list ? TokenKind::EndList : TokenKind::EndMsg;
                t.text = m_text.substr(m_pos, len);
                m_pos += len;
                m_nReturnState = m_state = INITIAL;
                return t;
            }
            if (c == '\n')
                ++m_nLine;
            Token t;
            t.kind = list ? TokenKind::ListChar : TokenKind::MsgChar;
            t.ch = c;
            t.text = m_text.substr(m_pos, 1);
            ++m_pos;
            return t;
        }
        }
    }
    return Token{};
}

} // namespace tovik
