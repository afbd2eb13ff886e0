#pragma once
// File > Export Messages: journal entries written as SML text, as JSON lines
// (one control-API journal entry a line), or as a pcapng capture.
#include <QString>

#include <cstdint>
#include <vector>

namespace tovik {

struct CHJournalEntry;

enum class ExportFormat { Sml, JsonLines, Pcapng };

// Tovik's end of the HSMS connections in a capture, which the journal does
// not keep: passive (the usual equipment), Tovik listens on `port`; active,
// it connected from `port`.
struct ExportLink {
    bool passive = true;
    std::uint32_t address = 0x7f000001; // IPv4, host order
    std::uint16_t port = 5000;
};

// Writes the entries, oldest first, to `path` (replaced); false with `error`
// set when the file cannot be written.
bool ExportMessages(const std::vector<const CHJournalEntry*>& entries, ExportFormat format,
                    const QString& path, QString* error, ExportLink link = {});

} // namespace tovik
