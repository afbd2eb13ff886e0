#pragma once
// A recording of a host and its equipment: the journal of every relayed data
// message, one JSON object a line, and the files made from it: a document
// with the equipment's replies and own messages, a reply script that answers
// each recorded request with the reply recorded for it, and the settings to
// replay on.
#include "Settings.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

namespace tovik {

struct CHRecordedMessage {
    QDateTime time;       // UTC, milliseconds
    bool fromHost = true; // host -> equipment; else equipment -> host
    int port = 0;         // the TCP port that link was opened to (Tovik's for the host)
    QByteArray message;   // HSMS header and body as received
};

// One journal line (no line feed), and back. A line whose "sml" differs from
// its "hex" body gives the SML's body (the user edited it); false with
// `error` set for a line that is not a message.
QByteArray JournalLine(const CHRecordedMessage& m);
bool ParseJournalLine(const QByteArray& line, CHRecordedMessage& out, QString& error);

// The texts a recording writes besides the journal; the settings are the
// defaults with passive mode, the host's port and device id, and the reply
// timers of `base`.
struct CHRecordingFiles {
    std::string document; // message file bytes
    QString script;
    Settings settings;
};
CHRecordingFiles MakeRecordingFiles(const std::vector<CHRecordedMessage>& journal, const QString& name,
                                    const Settings& base);

// The journal and the files made from it in `dir`, named after its last path
// element. `skipJournal`: the journal is the source and stays as it is.
class CHRecording {
public:
    explicit CHRecording(QString dir);
    const QString& dir() const { return m_dir; }
    QString name() const;
    QString path(const char* suffix) const; // "tvkm" -> DIR/NAME.tvkm
    // Files a write would replace ("pcapng" included when asked).
    QStringList existingFiles(bool withCapture) const;

    void add(CHRecordedMessage m) { m_journal.push_back(std::move(m)); }
    std::vector<CHRecordedMessage>& journal() { return m_journal; }
    // Reads DIR/NAME.jsonl or another journal file; false with `error`.
    bool load(const QString& journalFile, QString& error);
    // Writes the journal (unless skipJournal) and the other files; false
    // with `error` naming the file that failed.
    bool write(const Settings& base, bool skipJournal, QString& error) const;

private:
    QString m_dir;
    std::vector<CHRecordedMessage> m_journal;
};

} // namespace tovik
