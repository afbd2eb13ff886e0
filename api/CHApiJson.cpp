#include "CHApiJson.h"

#include "CHItemTree.h"
#include "CHMessageJournal.h"
#include "CHScriptEngine.h"
#include "CTovikarDoc.h"
#include "CTovikarView.h"
#include "hex.h"
#include "qbytetext.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

namespace tovik {

QJsonObject JournalEntryJson(const CHJournalEntry& e) {
    QJsonObject o;
    o.insert(QStringLiteral("id"), static_cast<qint64>(e.id));
    o.insert(QStringLiteral("time"), QDateTime::fromMSecsSinceEpoch(e.timeMs, Qt::UTC).toString(Qt::ISODateWithMs));
    o.insert(QStringLiteral("direction"), e.direction == CHJournalEntry::In ? QStringLiteral("in") : QStringLiteral("out"));
    o.insert(QStringLiteral("port"), e.port);
    o.insert(QStringLiteral("peer"), e.peer);
    o.insert(QStringLiteral("s"), e.stream());
    o.insert(QStringLiteral("f"), e.function());
    o.insert(QStringLiteral("w"), e.wbit());
    o.insert(QStringLiteral("device"), e.device());
    o.insert(QStringLiteral("sType"), e.sType());
    o.insert(QStringLiteral("systemBytes"), static_cast<qint64>(e.systemBytes()));
    const std::string hex = toHex(e.bytes.data(), e.bytes.size());
    o.insert(QStringLiteral("hex"), QString::fromLatin1(hex));
    if (e.sType() == 0 && e.hasHeader()) {
        CHScriptCodec codec;
        codec.SetHexMessage(hex);
        if (codec.GetLastError().empty()) {
            o.insert(QStringLiteral("sml"), TextFromBytes(codec.GetSmlText()));
            const QJsonValue body = ItemTree(codec);
            o.insert(QStringLiteral("body"), body.isUndefined() ? QJsonValue() : body);
        } else {
            o.insert(QStringLiteral("error"), TextFromBytes(codec.GetLastError()));
        }
    }
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
    QByteArray text = QJsonDocument(JournalEntryJson(entry)).toJson(QJsonDocument::Compact);
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
