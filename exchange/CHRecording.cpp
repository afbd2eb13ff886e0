// The recording's journal and the files made from it.
#include "CHRecording.h"

#include "CHSettingsFile.h"
#include "CHVeltSecsII.h"
#include "MsgFileFormat.h"
#include "hex.h"
#include "qbytetext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <map>

namespace tovik {

namespace {

std::string hexOf(const QByteArray& bytes) {
    return toHex(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
}

CHVeltSecsII decoded(const QByteArray& message) {
    CHVeltSecsII codec;
    codec.SetMessage(reinterpret_cast<const uint8_t*>(message.constData()), static_cast<std::size_t>(message.size()));
    return codec;
}

QByteArray body(const QByteArray& message) { return message.mid(10); }

QString stamp(const QDateTime& t) { return t.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")); }

// A definition's text: SML lines as the message file keeps them.
std::string definitionText(CHVeltSecsII& codec) {
    std::string sml = codec.GetSmlText();
    std::string out;
    for (char c : sml) {
        if (c == '\n')
            out += "\r\n";
        else
            out += c;
    }
    return out;
}

// Inside a JavaScript template literal.
QString templateText(const std::string& sml) {
    QString out;
    for (QChar c : TextFromBytes(sml)) {
        if (c == QLatin1Char('`') || c == QLatin1Char('\\') || c == QLatin1Char('$'))
            out += QLatin1Char('\\');
        out += c;
    }
    return QLatin1Char('`') + out + QLatin1Char('`');
}

QString sfName(int stream, int function) { return QStringLiteral("S%1F%2").arg(stream).arg(function); }

// What names an equipment's own message beyond its S,F: the event or alarm id.
QString primaryName(CHVeltSecsII& codec) {
    QString name = sfName(codec.GetStream(), codec.GetFunction());
    const char* what = nullptr;
    if (codec.GetStream() == 6 && (codec.GetFunction() == 11 || codec.GetFunction() == 13))
        what = "CEID";
    else if (codec.GetStream() == 5 && codec.GetFunction() == 1)
        what = "ALID";
    if (what) {
        codec.SetItemPath("[1]");
        const std::string value = codec.GetItemValue();
        if (codec.GetItemFound() && !value.empty() && value.size() < 40)
            name += QStringLiteral(" %1 %2").arg(QLatin1String(what), TextFromBytes(value));
    }
    return name;
}

// Distinct bodies of one kind, in the order first seen, with when.
struct Seen {
    QByteArray message;
    int count = 0;
    QDateTime first, last;
};

void note(std::vector<Seen>& list, const CHRecordedMessage& m) {
    for (Seen& s : list) {
        if (body(s.message) == body(m.message) && s.message.mid(2, 2) == m.message.mid(2, 2)) {
            ++s.count;
            s.last = m.time;
            return;
        }
    }
    list.push_back({m.message, 1, m.time, m.time});
}

std::string seenComment(const Seen& s, const QString& what) {
    QString text = QStringLiteral("%1, seen %2 time(s), first %3 UTC").arg(what).arg(s.count).arg(stamp(s.first));
    if (s.count > 1)
        text += QStringLiteral(", last %1 UTC").arg(stamp(s.last));
    return BytesFromText(text);
}

} // namespace

QByteArray JournalLine(const CHRecordedMessage& m) {
    CHVeltSecsII codec = decoded(m.message);
    const QByteArray h = m.message.left(10);
    QJsonObject o;
    o.insert(QStringLiteral("time"), m.time.toUTC().toString(Qt::ISODateWithMs));
    o.insert(QStringLiteral("direction"), m.fromHost ? QStringLiteral("host->equipment") : QStringLiteral("equipment->host"));
    o.insert(QStringLiteral("link"), m.fromHost ? QStringLiteral("host") : QStringLiteral("equipment"));
    o.insert(QStringLiteral("port"), m.port);
    o.insert(QStringLiteral("S"), codec.GetStream());
    o.insert(QStringLiteral("F"), codec.GetFunction());
    o.insert(QStringLiteral("W"), codec.GetWBit());
    o.insert(QStringLiteral("session"), codec.GetSessionID());
    o.insert(QStringLiteral("system"), QString::fromStdString(hexOf(h.mid(6, 4))));
    o.insert(QStringLiteral("hex"), QString::fromStdString(hexOf(m.message)));
    o.insert(QStringLiteral("sml"), TextFromBytes(codec.GetSmlText()));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool ParseJournalLine(const QByteArray& line, CHRecordedMessage& out, QString& error) {
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &parse);
    if (!doc.isObject()) {
        error = parse.errorString();
        return false;
    }
    const QJsonObject o = doc.object();
    std::vector<uint8_t> bytes;
    std::string hexError;
    if (!fromHex(o.value(QStringLiteral("hex")).toString().toStdString(), bytes, &hexError) || bytes.size() < 10) {
        error = QStringLiteral("\"hex\" is not a message");
        return false;
    }
    out.message = QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    out.time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    if (!out.time.isValid()) {
        error = QStringLiteral("\"time\" is not a time");
        return false;
    }
    out.time = out.time.toUTC();
    out.fromHost = o.value(QStringLiteral("link")).toString() != QStringLiteral("equipment");
    out.port = o.value(QStringLiteral("port")).toInt();
    // The SML is what a user edits: when it says something else than the
    // hex, its body wins and the header stays.
    const QString sml = o.value(QStringLiteral("sml")).toString();
    if (!sml.isEmpty()) {
        CHVeltSecsII edited;
        edited.SetSmlText(BytesFromText(sml));
        if (!edited.GetLastError().empty()) {
            error = QStringLiteral("\"sml\" does not load: ") + TextFromBytes(edited.GetLastError());
            return false;
        }
        const std::vector<uint8_t> encoded = edited.GetMessage();
        const QByteArray editedBody(reinterpret_cast<const char*>(encoded.data()) + 10,
                                    static_cast<qsizetype>(encoded.size()) - 10);
        if (editedBody != body(out.message))
            out.message = out.message.left(10) + editedBody;
    }
    return true;
}

CHRecordingFiles MakeRecordingFiles(const std::vector<CHRecordedMessage>& journal, const QString& name,
                                    const Settings& base) {
    CHRecordingFiles files;
    // The defaults, passive, with the reply timers the recording ran with.
    files.settings.Server = true;
    files.settings.T3 = base.T3;
    files.settings.T8 = base.T8;

    // Requests by system bytes until their reply comes.
    std::map<QByteArray, const CHRecordedMessage*> open;
    // Per request S,F: the distinct replies; per request body: the replies it got.
    std::map<std::pair<int, int>, std::vector<Seen>> replies;
    std::map<QByteArray, std::vector<Seen>> byRequest; // key: request header bytes 2-3 + body
    std::vector<QByteArray> requestOrder;
    std::map<QByteArray, QByteArray> requestMessage;
    std::vector<std::pair<QString, std::vector<Seen>>> own; // the equipment's primaries by S,F
    std::vector<const CHRecordedMessage*> ownInOrder;
    bool hostSeen = false;
    for (const CHRecordedMessage& m : journal) {
        CHVeltSecsII codec = decoded(m.message);
        const bool primary = codec.GetFunction() & 1;
        const QByteArray system = m.message.mid(6, 4);
        if (m.fromHost) {
            if (!hostSeen) {
                hostSeen = true;
                files.settings.LocalPortNumber = m.port;
                files.settings.DeviceID = codec.GetSessionID() & 0x7fff;
            }
            if (primary && codec.GetWBit())
                open[system] = &m;
            continue;
        }
        if (!primary) {
            const auto it = open.find(system);
            if (it == open.end())
                continue;
            const CHRecordedMessage& request = *it->second;
            open.erase(it);
            CHVeltSecsII r = decoded(request.message);
            note(replies[{r.GetStream(), r.GetFunction()}], m);
            const QByteArray key = request.message.mid(2, 2) + body(request.message);
            if (!byRequest.count(key)) {
                requestOrder.push_back(key);
                requestMessage[key] = request.message;
            }
            note(byRequest[key], m);
            continue;
        }
        const QString sf = sfName(codec.GetStream(), codec.GetFunction());
        auto kind = std::find_if(own.begin(), own.end(), [&](const auto& k) { return k.first == sf; });
        if (kind == own.end())
            kind = own.insert(own.end(), {sf, {}});
        note(kind->second, m);
        ownInOrder.push_back(&m);
    }

    CHOneMsgList defs;
    std::map<QString, int> taken;
    auto unique = [&taken](const QString& wanted) {
        const int n = ++taken[wanted];
        return n == 1 ? wanted : QStringLiteral("%1 #%2").arg(wanted).arg(n);
    };
    auto addDefinition = [&defs](const QString& defName, CHVeltSecsII& codec, const std::string& comment) {
        auto def = std::make_unique<CHOneMsg>();
        def->m_strName = BytesFromText(defName);
        def->m_strText = definitionText(codec);
        def->m_strComment = comment;
        defs.push_back(std::move(def));
    };
    // The usual reply per request S,F: the most frequent, first seen on a tie.
    std::map<std::pair<int, int>, QString> usual;
    for (auto& [sf, seen] : replies) {
        std::stable_sort(seen.begin(), seen.end(), [](const Seen& a, const Seen& b) { return a.count > b.count; });
        for (const Seen& s : seen) {
            CHVeltSecsII codec = decoded(s.message);
            const QString defName = unique(sfName(codec.GetStream(), codec.GetFunction()));
            if (!usual.count(sf))
                usual[sf] = defName;
            addDefinition(defName, codec, seenComment(s, QStringLiteral("Reply to %1").arg(sfName(sf.first, sf.second))));
        }
    }
    for (auto& [sf, seen] : own) {
        for (const Seen& s : seen) {
            CHVeltSecsII codec = decoded(s.message);
            addDefinition(unique(primaryName(codec)), codec, seenComment(s, QStringLiteral("Sent by the equipment")));
        }
    }
    files.document = StoreMsgFile(defs);

    QString js;
    js += QStringLiteral("// %1.js: the replies recorded from the equipment, made by tovik --record.\n"
                         "// A received primary whose S,F and body equal a request below gets the\n"
                         "// reply recorded for it; another primary of a recorded S,F gets that S,F's\n"
                         "// most frequent reply; anything else is left to the document.\n\n"
                         "// true: after each Select, the equipment's own messages below are sent\n"
                         "// again in their recorded order and spacing.\n"
                         "const SEND_RECORDED_PRIMARIES = false;\n\n"
                         "// The host's requests and the equipment's replies, as SML (edit freely).\n"
                         "const replies = [\n")
              .arg(name);
    for (const QByteArray& key : requestOrder) {
        std::vector<Seen>& seen = byRequest[key];
        std::stable_sort(seen.begin(), seen.end(), [](const Seen& a, const Seen& b) { return a.count > b.count; });
        CHVeltSecsII request = decoded(requestMessage[key]);
        CHVeltSecsII reply = decoded(seen.front().message);
        js += QStringLiteral("    { request: %1,\n      reply: %2 },\n")
                  .arg(templateText(request.GetSmlText()), templateText(reply.GetSmlText()));
    }
    js += QStringLiteral("];\n\n// The definition that answers a recorded S,F when the body is new.\nconst usual = {\n");
    for (const auto& [sf, defName] : usual)
        js += QStringLiteral("    '%1': '%2',\n").arg(sfName(sf.first, sf.second), defName);
    js += QStringLiteral("};\n\n// The equipment's own messages: milliseconds after the first, and the message.\n"
                         "const primaries = [\n");
    for (const CHRecordedMessage* m : ownInOrder) {
        CHVeltSecsII codec = decoded(m->message);
        js += QStringLiteral("    { at: %1, sml: %2 },\n")
                  .arg(ownInOrder.front()->time.msecsTo(m->time))
                  .arg(templateText(codec.GetSmlText()));
    }
    js += QStringLiteral(
        "];\n\n"
        "// SML compared without the blanks and line breaks outside quotes, so an\n"
        "// edit that only re-indents still matches.\n"
        "function flat(sml) {\n"
        "    let out = '';\n"
        "    let quote = '';\n"
        "    for (const c of sml) {\n"
        "        if (quote) { if (c === quote) quote = ''; }\n"
        "        else if (c === '\\'' || c === '\"') quote = c;\n"
        "        else if (/\\s/.test(c)) continue;\n"
        "        out += c;\n"
        "    }\n"
        "    return out;\n"
        "}\n\n"
        "const table = new Map(replies.map((r) => [flat(r.request), r.reply]));\n\n"
        "tovik.on('*', (msg) => {\n"
        "    const reply = table.get(flat(msg.sml));\n"
        "    if (reply !== undefined)\n"
        "        return reply;\n"
        "    const name = usual[`S${msg.stream}F${msg.function}`];\n"
        "    return name ? tovik.definition(name) : undefined;\n"
        "});\n\n"
        "tovik.onSelect((selected) => {\n"
        "    if (!selected || !SEND_RECORDED_PRIMARIES)\n"
        "        return;\n"
        "    for (const p of primaries)\n"
        "        tovik.after(p.at, () => tovik.send(p.sml).catch(() => {}));\n"
        "});\n");
    files.script = js;
    return files;
}

CHRecording::CHRecording(QString dir) : m_dir(std::move(dir)) {}

QString CHRecording::name() const { return QFileInfo(QDir::cleanPath(QDir(m_dir).absolutePath())).fileName(); }

QString CHRecording::path(const char* suffix) const {
    return QDir(m_dir).filePath(name() + QLatin1Char('.') + QLatin1String(suffix));
}

QStringList CHRecording::existingFiles(bool withCapture) const {
    QStringList found;
    for (const char* suffix : {"tvkm", "js", "ini", "jsonl", "pcapng"}) {
        if (!withCapture && QLatin1String(suffix) == QLatin1String("pcapng"))
            continue;
        if (QFileInfo::exists(path(suffix)))
            found << path(suffix);
    }
    return found;
}

bool CHRecording::load(const QString& journalFile, QString& error) {
    QFile f(journalFile);
    if (!f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: %2").arg(journalFile, f.errorString());
        return false;
    }
    m_journal.clear();
    int number = 0;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine().trimmed();
        ++number;
        if (line.isEmpty())
            continue;
        CHRecordedMessage m;
        QString why;
        if (!ParseJournalLine(line, m, why)) {
            error = QStringLiteral("%1, line %2: %3").arg(journalFile).arg(number).arg(why);
            return false;
        }
        m_journal.push_back(std::move(m));
    }
    return true;
}

bool CHRecording::write(const Settings& base, bool skipJournal, QString& error) const {
    QDir().mkpath(m_dir);
    auto save = [&error](const QString& file, const QByteArray& bytes) {
        QSaveFile out(file);
        if (out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit())
            return true;
        error = QStringLiteral("%1: %2").arg(file, out.errorString());
        return false;
    };
    if (!skipJournal) {
        QByteArray lines;
        for (const CHRecordedMessage& m : m_journal)
            lines += JournalLine(m) + '\n';
        if (!save(path("jsonl"), lines))
            return false;
    }
    const CHRecordingFiles files = MakeRecordingFiles(m_journal, name(), base);
    if (!save(path("tvkm"), QByteArray::fromStdString(files.document)) || !save(path("js"), files.script.toUtf8()))
        return false;
    // A fresh file: the settings file keeps values it does not write.
    QFile::remove(path("ini"));
    CHSettingsFile ini(path("tvkm"));
    ini.Select(path("tvkm"));
    if (!ini.Save(files.settings)) {
        error = path("ini") + QStringLiteral(": cannot be written");
        return false;
    }
    return true;
}

} // namespace tovik
