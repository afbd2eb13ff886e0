#include "CHApiJson.h"

#include "CHItemTree.h"
#include "CHMessageJournal.h"
#include "CHScriptEngine.h"
#include "CTovikarDoc.h"
#include "CTovikarView.h"
#include "hex.h"
#include "qbytetext.h"

#include <QJsonArray>

#include <charconv>
#include <chrono>
#include <cstdio>

namespace tovik {

namespace {
// ISO 8601 in UTC with milliseconds ("2026-01-02T03:04:05.678Z"), as
// QDateTime writes it, without QDateTime's cost on every entry.
void appendTime(QByteArray& out, qint64 msSinceEpoch) {
    using namespace std::chrono;
    const sys_time<milliseconds> t{milliseconds{msSinceEpoch}};
    const sys_days day = floor<days>(t);
    const year_month_day date{day};
    const hh_mm_ss<milliseconds> time{t - day};
    char text[32];
    std::snprintf(
        text, sizeof text, "\"%04d-%02u-%02uT%02d:%02d:%02d.%03dZ\"", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
        static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    out += text;
}
} // namespace

QByteArray LogLineText(QStringView line) {
    QByteArray out;
    out.reserve(6 * line.size() + 32);
    out += "{\"line\":";
    AppendJsonString(out, line);
    out += ",\"type\":\"log\"}";
    return out;
}

QByteArray JournalEntryText(const CHJournalEntry& e) {
    const std::string hex = toHex(e.bytes.data(), e.bytes.size());
    bool decoded = false;
    QString sml, error;
    QByteArray body;
    if (e.sType() == 0 && e.hasHeader()) {
        CHScriptCodec codec;
        codec.SetMessage(e.bytes.data(), e.bytes.size());
        if (codec.GetLastError().empty()) {
            decoded = true;
            sml = TextFromBytes(codec.GetSmlText());
            if (!AppendItemTree(body, codec))
                body = "null";
        } else {
            error = TextFromBytes(codec.GetLastError());
        }
    }
    // The keys in QJsonObject's order, which is sorted; appended in place,
    // since every message passing costs one.
    QByteArray o;
    o.reserve(static_cast<qsizetype>(hex.size()) + body.size() + 6 * (sml.size() + e.peer.size()) +
              256);
    const auto number = [&o](const char* key, qint64 value) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        o.append(key).append(digits, end - digits);
    };
    o += '{';
    if (decoded)
        o.append("\"body\":").append(body).append(',');
    number("\"device\":", e.device());
    o += e.direction == CHJournalEntry::In ? ",\"direction\":\"in\"" : ",\"direction\":\"out\"";
    if (!error.isNull()) {
        o += ",\"error\":";
        AppendJsonString(o, error);
    }
    number(",\"f\":", e.function());
    o += ",\"hex\":\"";
    o.append(hex.data(), static_cast<qsizetype>(hex.size())); // hex digits need no escape
    o += '"';
    number(",\"id\":", static_cast<qint64>(e.id));
    o += ",\"peer\":";
    AppendJsonString(o, e.peer);
    number(",\"port\":", e.port);
    number(",\"s\":", e.stream());
    number(",\"sType\":", e.sType());
    if (decoded) {
        o += ",\"sml\":";
        AppendJsonString(o, sml);
    }
    number(",\"systemBytes\":", e.systemBytes());
    o += ",\"time\":";
    appendTime(o, e.timeMs);
    o += e.wbit() ? ",\"w\":true}" : ",\"w\":false}";
    return o;
}

QJsonObject StatusJson(CTovikarView& view, const CHScriptEngine* script) {
    static const char* const kProtocols[] = {"HSMS", "SECS-I", "MSEC", "HSMS-SECS-I bridge"};
    const Settings& s = view.GetSettings();
    QJsonObject o;
    o.insert(QStringLiteral("protocol"),
             QString::fromLatin1(s.Protocol >= 0 && s.Protocol <= 3 ? kProtocols[s.Protocol] : "unknown"));
    o.insert(QStringLiteral("mode"), s.Server ? QStringLiteral("passive") : QStringLiteral("active"));
    o.insert(QStringLiteral("connected"), view.GetConnected());

    CHVeltHsms& hsms = view.Hsms();
    QJsonArray hosts;
    for (const auto& [address, port] : hsms.GetPeers())
        hosts.append(QJsonObject{{QStringLiteral("address"), address}, {QStringLiteral("port"), port}});
    const int state = hsms.GetState();
    QJsonObject hsmsPort{{QStringLiteral("port"), 1},
                         {QStringLiteral("open"), hsms.GetPortOpen()},
                         {QStringLiteral("connected"), state >= CVeltHsms::Connected},
                         {QStringLiteral("selected"), state == CVeltHsms::Selected},
                         {QStringLiteral("listeningPort"), hsms.GetListeningPort()},
                         {QStringLiteral("hosts"), hosts}};
    const bool secsOpen = view.SecsI().GetPortOpen();
    QJsonObject secsPort{{QStringLiteral("port"), 0},
                         {QStringLiteral("open"), secsOpen},
                         {QStringLiteral("connected"), secsOpen},
                         {QStringLiteral("selected"), secsOpen}};
    o.insert(QStringLiteral("ports"), QJsonObject{{QStringLiteral("hsms"), hsmsPort}, {QStringLiteral("secs"), secsPort}});

    CTovikarDoc& doc = view.Document();
    o.insert(QStringLiteral("document"), QJsonObject{{QStringLiteral("path"), doc.GetPathName()},
                                                     {QStringLiteral("modified"), doc.IsModified()}});
    QJsonObject scriptJson{{QStringLiteral("file"), script ? script->Path() : QString()},
                           {QStringLiteral("state"), !script || script->Path().isEmpty() ? QStringLiteral("none")
                                                     : script->IsLoaded()                ? QStringLiteral("loaded")
                                                                                         : QStringLiteral("error")}};
    o.insert(QStringLiteral("script"), scriptJson);

    CHMessageJournal& j = view.Journal();
    o.insert(QStringLiteral("counters"),
             QJsonObject{{QStringLiteral("messagesIn"), static_cast<qint64>(j.TotalIn())},
                         {QStringLiteral("messagesOut"), static_cast<qint64>(j.TotalOut())},
                         {QStringLiteral("repliesSent"), static_cast<qint64>(j.RepliesSent())},
                         {QStringLiteral("t3Expiries"), static_cast<qint64>(view.T3Expiries())}});
    o.insert(QStringLiteral("lastId"), static_cast<qint64>(j.LastId()));
    return o;
}

QByteArray CHEntryTextCache::Text(const CHJournalEntry& entry) {
    const auto found = m_texts.find(entry.id);
    if (found != m_texts.end())
        return found->second;
    QByteArray text = JournalEntryText(entry);
    m_texts.emplace(entry.id, text);
    // The oldest texts go first: their entries left the journal, or soon will.
    while (m_texts.size() > static_cast<std::size_t>(m_journal.Cap()))
        m_texts.erase(m_texts.begin());
    return text;
}

QByteArray CHEntryTextCache::ArrayText(const std::vector<const CHJournalEntry*>& entries) {
    QByteArray out("[");
    for (const CHJournalEntry* e : entries) {
        if (out.size() > 1)
            out += ',';
        out += Text(*e);
    }
    out += ']';
    return out;
}

} // namespace tovik
