#pragma once
// The JSON shapes of the control API: a journal entry and the status.
#include <QJsonObject>

namespace tovik {

struct CHJournalEntry;
class CHScriptEngine;
class CTovikarView;

// id, time (ISO 8601, ms, UTC), direction, port, peer, s, f, w, device,
// systemBytes, sType, sml, hex and the body's item tree.
QJsonObject JournalEntryJson(const CHJournalEntry& entry);
QJsonObject StatusJson(CTovikarView& view, const CHScriptEngine* script);

} // namespace tovik
