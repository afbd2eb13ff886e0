#include "CHSmlYacc.h"

#include "MsgFileText.h"
#include "bytetext.h"
#include "hex.h"

#include <iostream>

namespace tovik {

using Kind = CHSmlLex::TokenKind;

CHSmlYacc::CHSmlYacc(std::string_view text, CHOneMsgList& target, std::ostream& diag)
    : m_lex(text), m_target(target), m_diag(diag) {}

void CHSmlYacc::reportError(const CHSmlLex::Token& token) {
    m_errorLine = m_lex.Line();
    m_lastToken = std::string(token.text);
    m_diag << '(' << m_errorLine << ") parse error\n"
           << "Last token was \"" << EscapeControlBytes(m_lastToken) << "\"\n";
}

bool CHSmlYacc::Parse() {
    // The empty file is reduced before the first token: the list starts empty.
    m_target.clear();

    enum class Expect { Definition, Begin, ListBody, MsgBody };
    Expect expect = Expect::Definition;
    std::string name;
    std::string body;

    for (;;) {
        CHSmlLex::Token t = m_lex.Next();
        switch (expect) {
        case Expect::Definition:
            if (t.kind == Kind::EndOfText)
                return true;
            if (t.kind == Kind::Name) {
                name = std::move(t.value);
                expect = Expect::Begin;
                continue;
            }
            break;
        case Expect::Begin:
            if (t.kind == Kind::BeginList || t.kind == Kind::BeginMsg) {
                body.clear();
                expect = t.kind == Kind::BeginList ? Expect::ListBody : Expect::MsgBody;
                continue;
            }
            break;
        case Expect::ListBody:
        case Expect::MsgBody: {
            const bool list = expect == Expect::ListBody;
            if (t.kind == (list ? Kind::ListChar : Kind::MsgChar)) {
                // A hex dump keeps its digits only, in order and case.
                if (list || hexDigitValue(t.ch) >= 0)
                    body.push_back(t.ch);
                continue;
            }
            if (t.kind == (list ? Kind::EndList : Kind::EndMsg)) {
                // The definition is complete before the next token is scanned,
                // so the comment seen since its name is the one it keeps.
                auto msg = std::make_unique<CHOneMsg>();
                msg->m_strName = std::move(name);
                msg->m_bStructure = list;
                msg->m_strText = list ? NormalizeLines(body, LastLine::Drop) : std::move(body);
                msg->m_strComment = NormalizeLines(m_lex.DocComment(), LastLine::Keep);
                m_target.push_back(std::move(msg));
                name.clear();
                body.clear();
                expect = Expect::Definition;
                continue;
            }
            break;
        }
        }
        reportError(t);
        return false;
    }
}

bool ParseSmlText(CHOneMsgList& target, std::string_view text, std::ostream& diag, ParseOutcome* outcome) {
    CHSmlYacc parser(text, target, diag);
    const bool ok = parser.Parse();
    if (outcome) {
        outcome->ok = ok;
        outcome->errorLine = ok ? 0 : parser.ErrorLine();
        outcome->lastToken = ok ? std::string() : parser.LastToken();
    }
    return ok;
}

bool ParseSmlText(CHOneMsgList& target, std::string_view text) {
    return ParseSmlText(target, text, std::cout);
}

} // namespace tovik
