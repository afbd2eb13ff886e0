#pragma once
// What the editing commands and the message property page decide, apart
// from the widgets: free names, the page's entries and their checks, and the
// conversion of a text between hex dump and SML through the codec.
#include "CHOneMsg.h"

#include <string>
#include <string_view>

namespace tovik {

class CHVeltSecsII;
class CTovikarDoc;

// The page's view of one definition. type: 0 hex dump, 1 SML structure.
struct CHMsgEntries {
    std::string name;
    int type = -1;
    std::string text;
    std::string comment;

    static CHMsgEntries From(const CHOneMsg& msg);
};

// "New Message #n" for the smallest n in 1..9999 that no definition bears;
// empty when all are taken.
std::string NewMessageName(const CTovikarDoc& doc);
// The clipboard name when it is free, else "<name> (Copy #n)" for the
// smallest free n in 1..9999; empty when all are taken.
std::string PasteName(const CTovikarDoc& doc, const std::string& name);

enum class EntryCheck { Unchanged, Accept, EmptyName, NameTaken };
// Judges the entries a user confirmed for `msg`, in the order the page asks.
EntryCheck CheckEntries(const CTovikarDoc& doc, const CHOneMsg& msg, const CHMsgEntries& entries);
// The message box text for EmptyName / NameTaken; empty otherwise.
std::string EntryCheckText(EntryCheck check, const CHMsgEntries& entries);

// Stores the entries in the record and decodes its stream and function from
// the new text through `scratch`.
void ApplyEntries(CHOneMsg& msg, const CHMsgEntries& entries, CHVeltSecsII& scratch);

// The hex digits of a dump written with blanks and line breaks between them.
// False with the page's message in `error` when a character is not a digit
// or blank, when there are fewer than 20 digits or when their count is odd.
bool CollectHexDigits(const std::string& text, std::string& digits, std::string& error);

// Every line break as CR LF, the form the document keeps its texts in: a
// lone LF becomes CR LF, CRs already there stay.
std::string CrLfLines(std::string_view text);

// The page's layout of a dump: ten bytes per line, each two digits and a
// blank, lines separated by CR LF.
std::string LayoutHexDump(const std::string& digits);

// What the codec makes of a text of that type, in one line: its error
// ("SML line 1, column 13: ...") or what it read ("s1f2, SECS-I header,
// 6-byte body"). Sets `loads` accordingly.
std::string MessageVerdict(const std::string& text, int type, CHVeltSecsII& codec, bool& loads);

// Converts the page's text from one type to the other through `codec`. False
// with the message when a hex dump cannot be read; `text` is left as it was.
bool ConvertMessageText(std::string& text, int fromType, int toType, CHVeltSecsII& codec, std::string& error);

} // namespace tovik
