#pragma once
// Faults on demand: rules that make the equipment misbehave on purpose, so a
// host's error handling can be tried. A rule names what it matches (a data
// message by stream and function, a control message, or one of Tovik's own
// sends), where (port, host), what it does and how often (times,
// probability). Rules are kept in the order they were added; the first one
// that matches and fires decides, the others are not consulted.
//
// The rules come and go as JSON objects, the same from a file, a script or a
// remote control: add() checks one and says what is wrong with it.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace tovik {

class CHFaultRules : public QObject {
    Q_OBJECT
public:
    // Line: a SECS-I peer's ENQ (stream and function -1) or good block.
    enum class Kind { Reply, Send, Select, Linktest, Separate, Line };
    enum class Action {
        Delay, Drop, Reply, S9, SystemBytes, Duplicate, Dribble, Truncate, Garbage,
        Disconnect, Reject, Ignore, RBit, DeviceId, Nak, NoEot, BadChecksum, SplitBlock
    };

    // What a message about to be answered or sent looks like to the rules.
    struct Query {
        Kind kind = Kind::Reply;
        int stream = 0; // the received primary's (Reply) or the sent message's (Send)
        int function = 0;
        bool hsms = true;  // wire actions exist only on an HSMS connection
        bool secs = false; // line actions only on a SECS-I line
        int port = 0;     // the HSMS port Tovik listens on or connects to
        QString peerAddress;
        int peerPort = 0;
    };

    // The fault to apply, with its parameters drawn.
    struct Fault {
        int rule = 0;
        Action action = Action::Drop;
        int ms = 0;         // delay; dribble's pause between pieces; splitBlock
        int bytes = 1;      // dribble's piece size
        int function = 0;   // s9
        std::uint32_t value = 0; // systemBytes, deviceId
        int status = 0;     // select reject
        bool after = true;  // disconnect after the reply (else before it)
        QString sml;        // reply
        QByteArray garbage; // garbage
        // "Fault: ACTION on WHAT (rule N)", WHAT as SxFy, ENQ or the control word.
        QString LogLine(const Query& query) const;
    };

    struct Added {
        int id = 0; // 0 when the rule was refused
        QString error;
    };

    explicit CHFaultRules(QObject* parent = nullptr);
    ~CHFaultRules() override;

    Added add(const QJsonObject& rule);
    // Rules added in order, all or none: on the first bad one nothing of
    // them stays; the ids, or empty with the index (from 0) and the reason.
    std::vector<int> addAll(const QJsonArray& rules, QString* error);
    // Each rule as given, with "id", "fired" (how often it fired), "enabled"
    // and the "seed" its draws use.
    QJsonArray list() const;
    bool remove(int id);
    void clear();
    bool setEnabled(int id, bool enabled);
    bool empty() const { return m_rules.empty(); }

    // A JSON array of rules from a file, added in order; on the first bad
    // rule nothing of the file stays and the text names the file, the
    // rule's index (from 0) and what is wrong.
    QString loadFile(const QString& path);

    // The first rule that matches and fires; its fire count goes up.
    std::optional<Fault> decide(const Query& query);

Q_SIGNALS:
    // A rule came, went, fired or was switched.
    void Changed();

private:
    struct Rule;
    std::vector<Rule> m_rules;
    int m_nextId = 1;
};

} // namespace tovik
