#include "CHFaultRules.h"

#include "CHVeltSecsII.h"
#include "hex.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>
#include <random>

namespace tovik {

namespace {

using Action = CHFaultRules::Action;
using Kind = CHFaultRules::Kind;

struct ActionInfo {
    const char* name;
    Action action;
    const char* params; // the keys it takes, space separated
    int medium;         // 0 any, 1 an HSMS connection, 2 a SECS-I line
};

constexpr ActionInfo kActions[] = {
    {"delay", Action::Delay, "ms minMs maxMs", false},
    {"drop", Action::Drop, "", false},
    {"reply", Action::Reply, "sml", false},
    {"s9", Action::S9, "function", false},
    {"systemBytes", Action::SystemBytes, "value", false},
    {"duplicate", Action::Duplicate, "", false},
    {"dribble", Action::Dribble, "bytes everyMs", true},
    {"truncate", Action::Truncate, "", true},
    {"garbage", Action::Garbage, "hex", true},
    {"disconnect", Action::Disconnect, "when", true},
    {"reject", Action::Reject, "status", false},
    {"ignore", Action::Ignore, "", false},
    {"rbit", Action::RBit, "", 2},
    {"deviceId", Action::DeviceId, "value", 2},
    {"nak", Action::Nak, "", 2},
    {"noEot", Action::NoEot, "", 2},
    {"badChecksum", Action::BadChecksum, "", 2},
    {"splitBlock", Action::SplitBlock, "ms", 2},
};

// Which actions each kind of rule may take.
bool allowed(Kind kind, Action a) {
    switch (kind) {
    case Kind::Reply:
        return a != Action::Reject && a != Action::Ignore && a != Action::Nak && a != Action::NoEot;
    case Kind::Send:
        return a == Action::Delay || a == Action::Drop || a == Action::Duplicate ||
               a == Action::Dribble || a == Action::Truncate || a == Action::RBit ||
               a == Action::DeviceId || a == Action::BadChecksum || a == Action::SplitBlock;
    case Kind::Line:
        return a == Action::Nak || a == Action::NoEot;
    case Kind::Select:
        return a == Action::Reject || a == Action::Drop;
    case Kind::Linktest:
        return a == Action::Drop || a == Action::Delay;
    case Kind::Separate:
        return a == Action::Ignore;
    }
    return false;
}

const char* kindWord(Kind kind) {
    switch (kind) {
    case Kind::Select:
        return "select";
    case Kind::Linktest:
        return "linktest";
    case Kind::Separate:
        return "separate";
    default:
        return "";
    }
}

const ActionInfo& info(Action a) {
    for (const ActionInfo& i : kActions)
        if (i.action == a)
            return i;
    return kActions[0];
}

// splitmix64: the same draws from the same seed on every machine.
std::uint64_t nextRandom(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

double unitDraw(std::uint64_t& state) {
    return static_cast<double>(nextRandom(state) >> 11) * 0x1.0p-53;
}

// "S1F3", "S6F*", "s*f*", "*": -1 stands for any.
bool parseStreamFunction(const QString& text, int& stream, int& function) {
    if (text == QLatin1String("*")) {
        stream = function = -1;
        return true;
    }
    const QString t = text.toUpper();
    const qsizetype f = t.indexOf(QLatin1Char('F'));
    if (!t.startsWith(QLatin1Char('S')) || f < 2 || f == t.size() - 1)
        return false;
    const auto piece = [](const QString& p, int max, int& out) {
        if (p == QLatin1String("*")) {
            out = -1;
            return true;
        }
        bool ok = false;
        out = p.toInt(&ok);
        return ok && out >= 0 && out <= max && !p.startsWith(QLatin1Char('+'));
    };
    return piece(t.mid(1, f - 1), 127, stream) && piece(t.mid(f + 1), 255, function);
}

// A whole number in [min, max]; the text says what is wrong otherwise.
QString integer(const QJsonObject& o, const char* key, double min, double max, double& out) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isDouble() || std::floor(v.toDouble()) != v.toDouble() || v.toDouble() < min ||
        v.toDouble() > max)
        return QStringLiteral("'%1' must be a whole number from %2 to %3")
            .arg(QLatin1String(key))
            .arg(min, 0, 'f', 0)
            .arg(max, 0, 'f', 0);
    out = v.toDouble();
    return {};
}

} // namespace

struct CHFaultRules::Rule {
    int id = 0;
    QJsonObject json;
    Kind kind = Kind::Reply;
    int stream = -1;
    int function = -1;
    int port = 0;
    QString host;
    int hostPort = 0;
    Fault fault;
    int minMs = 0;
    int maxMs = 0; // above minMs: a uniform draw between them
    double times = -1;
    double probability = 1;
    std::uint64_t seed = 0;
    std::uint64_t state = 0;
    qint64 fired = 0;
    bool enabled = true;
};

QString CHFaultRules::Fault::LogLine(const Query& query) const {
    const QString what = query.kind == Kind::Line && query.stream < 0 ? QStringLiteral("ENQ")
                         : query.kind == Kind::Reply || query.kind == Kind::Send || query.kind == Kind::Line
                             ? QStringLiteral("S%1F%2").arg(query.stream).arg(query.function)
                             : QLatin1String(kindWord(query.kind));
    return QStringLiteral("Fault: %1 on %2 (rule %3)")
        .arg(QLatin1String(info(action).name), what)
        .arg(rule);
}

CHFaultRules::CHFaultRules(QObject* parent) : QObject(parent) {}
CHFaultRules::~CHFaultRules() = default;

CHFaultRules::Added CHFaultRules::add(const QJsonObject& o) {
    Rule r;
    const auto refuse = [](const QString& why) { return Added{0, why}; };

    const QJsonValue match = o.value(QLatin1String("match"));
    if (!match.isString())
        return refuse(QStringLiteral("'match' is missing (SxFy, *, select, linktest or separate)"));
    const QString m = match.toString().trimmed();
    const bool send = o.value(QLatin1String("send")).toBool(false);
    if (o.contains(QLatin1String("send")) && !o.value(QLatin1String("send")).isBool())
        return refuse(QStringLiteral("'send' must be true or false"));
    if (m.compare(QLatin1String("select"), Qt::CaseInsensitive) == 0)
        r.kind = Kind::Select;
    else if (m.compare(QLatin1String("linktest"), Qt::CaseInsensitive) == 0)
        r.kind = Kind::Linktest;
    else if (m.compare(QLatin1String("separate"), Qt::CaseInsensitive) == 0)
        r.kind = Kind::Separate;
    else if (parseStreamFunction(m, r.stream, r.function))
        r.kind = send ? Kind::Send : Kind::Reply;
    else
        return refuse(QStringLiteral("'match' %1 is not SxFy, *, select, linktest or separate").arg(m));
    if (send && r.kind != Kind::Send)
        return refuse(QStringLiteral("a send rule matches SxFy or *, not %1").arg(m));

    const QString name = o.value(QLatin1String("action")).toString();
    const ActionInfo* act = nullptr;
    for (const ActionInfo& i : kActions)
        if (name == QLatin1String(i.name))
            act = &i;
    if (!act)
        return refuse(QStringLiteral("'action' %1 is unknown").arg(name.isEmpty() ? QStringLiteral("(none)") : name));
    if (act->action == Action::Nak || act->action == Action::NoEot) {
        // What the peer sends: its ENQ, seen only by `*` rules, or its block.
        if (send)
            return refuse(QStringLiteral("action %1 does not apply to a send rule").arg(name));
        if (act->action == Action::NoEot && r.stream >= 0)
            return refuse(QStringLiteral("noEot answers an ENQ, which has no SxFy yet: match must be *"));
        if (r.kind == Kind::Reply)
            r.kind = Kind::Line;
    }
    if (!allowed(r.kind, act->action))
        return refuse(QStringLiteral("action %1 does not apply to %2").arg(name, send ? QStringLiteral("a send rule") : m));
    r.fault.action = act->action;

    // Every key must mean something here: a misspelt one would silently do nothing.
    const QStringList params = QString::fromLatin1(act->params).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    static const QStringList common = {
        QStringLiteral("match"), QStringLiteral("send"), QStringLiteral("port"), QStringLiteral("host"),
        QStringLiteral("action"), QStringLiteral("times"), QStringLiteral("probability"),
        QStringLiteral("seed"), QStringLiteral("enabled"), QStringLiteral("id"), QStringLiteral("fired")};
    for (auto it = o.begin(); it != o.end(); ++it)
        if (!common.contains(it.key()) && !params.contains(it.key()))
            return refuse(QStringLiteral("key '%1' does not belong to action %2").arg(it.key(), name));

    double n = 0;
    QString error;
    switch (r.fault.action) {
    case Action::Delay:
        if (o.contains(QLatin1String("ms"))) {
            if (!(error = integer(o, "ms", 0, 3600000, n)).isEmpty())
                return refuse(error);
            r.minMs = r.maxMs = static_cast<int>(n);
        } else {
            if (!(error = integer(o, "minMs", 0, 3600000, n)).isEmpty())
                return refuse(QStringLiteral("delay needs 'ms' or 'minMs' and 'maxMs': ") + error);
            r.minMs = static_cast<int>(n);
            if (!(error = integer(o, "maxMs", r.minMs, 3600000, n)).isEmpty())
                return refuse(error);
            r.maxMs = static_cast<int>(n);
        }
        break;
    case Action::Reply: {
        const QString sml = o.value(QLatin1String("sml")).toString();
        CHVeltSecsII probe;
        probe.SetSml(sml.toStdString());
        if (sml.trimmed().isEmpty() || !probe.GetLastError().empty())
            return refuse(QStringLiteral("'sml' does not load: %1")
                              .arg(sml.trimmed().isEmpty() ? QStringLiteral("empty")
                                                           : QString::fromStdString(probe.GetLastError())));
        r.fault.sml = sml;
        break;
    }
    case Action::S9:
        if (!(error = integer(o, "function", 1, 11, n)).isEmpty() || (static_cast<int>(n) & 1) == 0)
            return refuse(QStringLiteral("'function' must be 1, 3, 5, 7, 9 or 11"));
        r.fault.function = static_cast<int>(n);
        break;
    case Action::SystemBytes:
        if (!(error = integer(o, "value", 0, 4294967295.0, n)).isEmpty())
            return refuse(error);
        r.fault.value = static_cast<std::uint32_t>(n);
        break;
    case Action::DeviceId:
        if (!(error = integer(o, "value", 0, 32767, n)).isEmpty())
            return refuse(error);
        r.fault.value = static_cast<std::uint32_t>(n);
        break;
    case Action::SplitBlock:
        if (!(error = integer(o, "ms", 1, 60000, n)).isEmpty())
            return refuse(error);
        r.fault.ms = static_cast<int>(n);
        break;
    case Action::Dribble:
        if (o.contains(QLatin1String("bytes")) && !(error = integer(o, "bytes", 1, 1 << 20, n)).isEmpty())
            return refuse(error);
        r.fault.bytes = o.contains(QLatin1String("bytes")) ? static_cast<int>(n) : 1;
        if (o.contains(QLatin1String("everyMs")) && !(error = integer(o, "everyMs", 0, 60000, n)).isEmpty())
            return refuse(error);
        r.fault.ms = o.contains(QLatin1String("everyMs")) ? static_cast<int>(n) : 100;
        break;
    case Action::Garbage: {
        std::vector<std::uint8_t> bytes;
        std::string why;
        const std::string hex = o.value(QLatin1String("hex")).toString().toStdString();
        if (hex.empty() || !fromHex(hex, bytes, &why))
            return refuse(QStringLiteral("'hex' must be hex digit pairs%1")
                              .arg(why.empty() ? QString() : QStringLiteral(": ") + QString::fromStdString(why)));
        r.fault.garbage = QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
        break;
    }
    case Action::Disconnect: {
        const QString when = o.value(QLatin1String("when")).toString(QStringLiteral("after"));
        if (when != QLatin1String("before") && when != QLatin1String("after"))
            return refuse(QStringLiteral("'when' must be before or after"));
        r.fault.after = when == QLatin1String("after");
        break;
    }
    case Action::Reject:
        if (!(error = integer(o, "status", 1, 3, n)).isEmpty())
            return refuse(error);
        r.fault.status = static_cast<int>(n);
        break;
    default:
        break;
    }

    if (o.contains(QLatin1String("port"))) {
        if (!(error = integer(o, "port", 1, 65535, n)).isEmpty())
            return refuse(error);
        r.port = static_cast<int>(n);
    }
    if (o.contains(QLatin1String("host"))) {
        // address[:port]; an IPv6 address without a port has more than one colon.
        const QString host = o.value(QLatin1String("host")).toString().trimmed();
        const qsizetype colon = host.lastIndexOf(QLatin1Char(':'));
        r.host = host;
        if (colon > 0 && host.indexOf(QLatin1Char(':')) == colon) {
            bool ok = false;
            r.hostPort = host.mid(colon + 1).toInt(&ok);
            if (!ok || r.hostPort < 1 || r.hostPort > 65535)
                return refuse(QStringLiteral("'host' %1 has a bad port").arg(host));
            r.host = host.left(colon);
        }
        if (r.host.isEmpty())
            return refuse(QStringLiteral("'host' is empty"));
    }
    if (o.contains(QLatin1String("times"))) {
        if (!(error = integer(o, "times", 1, 1e15, n)).isEmpty())
            return refuse(error);
        r.times = n;
    }
    if (o.contains(QLatin1String("probability"))) {
        const QJsonValue p = o.value(QLatin1String("probability"));
        if (!p.isDouble() || p.toDouble() < 0 || p.toDouble() > 1)
            return refuse(QStringLiteral("'probability' must be a number from 0 to 1"));
        r.probability = p.toDouble();
    }
    if (o.contains(QLatin1String("seed"))) {
        if (!(error = integer(o, "seed", 0, 9007199254740991.0, n)).isEmpty())
            return refuse(error);
        r.seed = static_cast<std::uint64_t>(n);
    } else {
        // No seed given: one of its own, shown by list() so the run can be repeated.
        r.seed = std::random_device{}() & 0xffffffffu;
    }
    r.state = r.seed;
    if (o.contains(QLatin1String("enabled")) && !o.value(QLatin1String("enabled")).isBool())
        return refuse(QStringLiteral("'enabled' must be true or false"));
    r.enabled = o.value(QLatin1String("enabled")).toBool(true);

    r.json = o;
    r.json.remove(QLatin1String("id"));
    r.json.remove(QLatin1String("fired"));
    r.id = m_nextId++;
    r.fault.rule = r.id;
    m_rules.push_back(std::move(r));
    Q_EMIT Changed();
    return Added{m_rules.back().id, {}};
}

QJsonArray CHFaultRules::list() const {
    QJsonArray out;
    for (const Rule& r : m_rules) {
        QJsonObject o = r.json;
        o.insert(QLatin1String("id"), r.id);
        o.insert(QLatin1String("fired"), static_cast<double>(r.fired));
        o.insert(QLatin1String("enabled"), r.enabled);
        o.insert(QLatin1String("seed"), static_cast<double>(r.seed));
        out.append(o);
    }
    return out;
}

bool CHFaultRules::remove(int id) {
    for (auto it = m_rules.begin(); it != m_rules.end(); ++it) {
        if (it->id == id) {
            m_rules.erase(it);
            Q_EMIT Changed();
            return true;
        }
    }
    return false;
}

void CHFaultRules::clear() {
    m_rules.clear();
    Q_EMIT Changed();
}

bool CHFaultRules::setEnabled(int id, bool enabled) {
    for (Rule& r : m_rules) {
        if (r.id == id) {
            r.enabled = enabled;
            Q_EMIT Changed();
            return true;
        }
    }
    return false;
}

QString CHFaultRules::loadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString());
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError)
        return QStringLiteral("%1: not JSON at offset %2: %3").arg(path).arg(parse.offset).arg(parse.errorString());
    if (!doc.isArray())
        return QStringLiteral("%1: must hold a JSON array of rules").arg(path);
    QString error;
    if (addAll(doc.array(), &error).empty() && !error.isEmpty())
        return QStringLiteral("%1: %2").arg(path, error);
    return {};
}

std::vector<int> CHFaultRules::addAll(const QJsonArray& rules, QString* error) {
    std::vector<Rule> kept = m_rules;
    const int keptNext = m_nextId;
    std::vector<int> ids;
    for (qsizetype i = 0; i < rules.size(); ++i) {
        const Added added = rules.at(i).isObject()
                                ? add(rules.at(i).toObject())
                                : Added{0, QStringLiteral("a rule must be a JSON object")};
        if (added.id == 0) {
            m_rules = std::move(kept);
            m_nextId = keptNext;
            Q_EMIT Changed();
            *error = QStringLiteral("rule %1: %2").arg(i).arg(added.error);
            return {};
        }
        ids.push_back(added.id);
    }
    return ids;
}

std::optional<CHFaultRules::Fault> CHFaultRules::decide(const Query& q) {
    for (Rule& r : m_rules) {
        if (!r.enabled || r.kind != q.kind || (r.times >= 0 && r.fired >= r.times))
            continue;
        if ((r.stream >= 0 && r.stream != q.stream) || (r.function >= 0 && r.function != q.function))
            continue;
        if ((r.port && r.port != q.port) || (!r.host.isEmpty() && r.host != q.peerAddress) ||
            (r.hostPort && r.hostPort != q.peerPort))
            continue;
        // A peer's block meets only rules that name a stream or function.
        if (q.kind == Kind::Line && q.stream >= 0 && r.stream < 0 && r.function < 0)
            continue;
        if ((info(r.fault.action).medium == 1 && !q.hsms) || (info(r.fault.action).medium == 2 && !q.secs))
            continue;
        if (r.probability < 1 && unitDraw(r.state) >= r.probability)
            continue;
        Fault f = r.fault;
        if (f.action == Action::Delay)
            f.ms = r.maxMs > r.minMs
                       ? r.minMs + static_cast<int>(nextRandom(r.state) % static_cast<std::uint64_t>(r.maxMs - r.minMs + 1))
                       : r.minMs;
        ++r.fired;
        Q_EMIT Changed();
        return f;
    }
    return std::nullopt;
}

} // namespace tovik
