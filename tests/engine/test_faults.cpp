// Faults on demand seen from a raw host: each action on the wire, its log
// line, the seeded draws, `times`, the rules of a script, and the next host
// served after every action.
#include "harness.h"

#include <gtest/gtest.h>

using namespace harness;

namespace {

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct Faults : ::testing::Test {
    Settings settings;
    std::unique_ptr<Tovik> tovik;
    std::unique_ptr<RawHost> host;

    void start(const std::string& rules, const std::string& script = {}) {
        settings.localPort = freePort();
        Tovik::Files files;
        if (!rules.empty()) {
            files.push_back({QStringLiteral("faults.json"), rules});
            settings.extraSections = "[Faults]\nFile=faults.json\n";
        }
        if (!script.empty()) {
            files.push_back({QStringLiteral("equipment.js"), script});
            settings.scriptFile = "equipment.js";
        }
        tovik = std::make_unique<Tovik>(settings, kDocument, true, files);
        ASSERT_TRUE(tovik->waitLine("HSMS port has been opened successfully.")) << tovik->err();
    }
    // A new host that connects and selects: the proof that Tovik still serves.
    void connect() {
        host = std::make_unique<RawHost>();
        ASSERT_TRUE(host->connect(settings.localPort));
        ASSERT_TRUE(host->send(header(0xffff, 0, 0, 0x77, 1)));
        ASSERT_EQ(host->recv(), header(0xffff, 0, 0, 0x77, 2));
    }
    // A request the document answers at once, as a marker in the stream.
    void served(unsigned system) {
        ASSERT_TRUE(host->send(header(0, 0x81, 1, system)));
        EXPECT_EQ(host->recv(), header(0, 0x01, 2, system) + kS1F2Body);
    }
};

const char* kEveryAction = R"([
 {"match": "S1F1", "action": "delay", "ms": 1000, "times": 1},
 {"match": "S2F13", "action": "drop"},
 {"match": "S2F15", "action": "reply", "sml": "S7F2 <b 0x05>"},
 {"match": "S2F19", "action": "s9", "function": 7},
 {"match": "S2F21", "action": "systemBytes", "value": 16909060},
 {"match": "S2F23", "action": "duplicate"},
 {"match": "S2F25", "action": "dribble", "bytes": 3, "everyMs": 60},
 {"match": "S2F27", "action": "truncate"},
 {"match": "S2F29", "action": "garbage", "hex": "deadbeef"},
 {"match": "S2F31", "action": "disconnect", "when": "before"},
 {"match": "S2F33", "action": "disconnect", "when": "after"},
 {"match": "select", "action": "reject", "status": 2, "times": 1},
 {"match": "linktest", "action": "drop", "times": 1},
 {"match": "linktest", "action": "delay", "ms": 600, "times": 1},
 {"match": "separate", "action": "ignore", "times": 1}
])";

} // namespace

TEST_F(Faults, EveryActionShowsOnTheWireIsLoggedAndTheNextHostIsServed) {
    start(kEveryAction);
    host = std::make_unique<RawHost>();
    ASSERT_TRUE(host->connect(settings.localPort));
    // Select refused once with status 2 (not ready), then accepted.
    ASSERT_TRUE(host->send(header(0xffff, 0, 0, 1, 1)));
    EXPECT_EQ(host->recv(), header(0xffff, 0, 2, 1, 2));
    ASSERT_TRUE(host->send(header(0xffff, 0, 0, 2, 1)));
    EXPECT_EQ(host->recv(), header(0xffff, 0, 0, 2, 2));

    // Linktest: the first unanswered, the second late, the third at once.
    ASSERT_TRUE(host->send(header(0xffff, 0, 0, 3, 5)));
    std::int64_t t0 = nowMs();
    ASSERT_TRUE(host->send(header(0xffff, 0, 0, 4, 5)));
    EXPECT_EQ(host->recv(), header(0xffff, 0, 0, 4, 6));
    EXPECT_GE(nowMs() - t0, 580);
    ASSERT_TRUE(host->send(header(0xffff, 0, 0, 5, 5)));
    EXPECT_EQ(host->recv(), header(0xffff, 0, 0, 5, 6));

    // Delayed once (times 1), then answered at once.
    t0 = nowMs();
    served(0x10);
    EXPECT_GE(nowMs() - t0, 980);
    t0 = nowMs();
    served(0x11);
    EXPECT_LT(nowMs() - t0, 900);

    // Dropped: the next frame is the marker's answer.
    ASSERT_TRUE(host->send(header(0, 0x82, 13, 0x12)));
    served(0x13);
    // Another message instead, wrong stream and all, with the request's system bytes.
    ASSERT_TRUE(host->send(header(0, 0x82, 15, 0x14)));
    EXPECT_EQ(host->recv(), header(0, 0x07, 2, 0x14) + "210105");
    // S9F7 carrying the request's header.
    ASSERT_TRUE(host->send(header(0, 0x82, 19, 0x15)));
    const auto s9 = host->recv();
    ASSERT_TRUE(s9);
    EXPECT_EQ(s9->substr(0, 12), "000009070000");
    EXPECT_EQ(s9->substr(20), "210a" + header(0, 0x82, 19, 0x15));
    // Other system bytes.
    ASSERT_TRUE(host->send(header(0, 0x82, 21, 0x16)));
    EXPECT_EQ(host->recv(), header(0, 0x02, 22, 0x01020304) + "210100");
    // Twice.
    ASSERT_TRUE(host->send(header(0, 0x82, 23, 0x17)));
    EXPECT_EQ(host->recv(), header(0, 0x02, 24, 0x17) + "210100");
    EXPECT_EQ(host->recv(), header(0, 0x02, 24, 0x17) + "210100");
    // Dribbled: 17 bytes in pieces of 3, 60 ms apart, whole in the end.
    ASSERT_TRUE(host->send(header(0, 0x82, 25, 0x18)));
    const Bytes first = host->recvRaw(3);
    t0 = nowMs();
    EXPECT_EQ(first.size(), 3u);
    const Bytes rest = host->recvRaw(14);
    EXPECT_GE(nowMs() - t0, 5 * 60 - 20);
    EXPECT_EQ(hexOf(concat({first, rest})), hexOf(framed(header(0, 0x02, 26, 0x18) + "210100")));
    // Separate ignored once: the link stays.
    ASSERT_TRUE(host->send(header(0xffff, 0, 0, 0x19, 9)));
    served(0x1a);

    // The closing actions: each time, what reached the host, then a new host.
    ASSERT_TRUE(host->send(header(0, 0x82, 33, 0x20)));
    EXPECT_EQ(host->recv(), header(0, 0x02, 34, 0x20) + "210100");
    EXPECT_TRUE(host->waitClosed());
    connect();
    ASSERT_TRUE(host->send(header(0, 0x82, 31, 0x21)));
    EXPECT_TRUE(host->recvRaw(1).empty());
    EXPECT_TRUE(host->waitClosed());
    connect();
    ASSERT_TRUE(host->send(header(0, 0x82, 27, 0x22)));
    const Bytes cut = host->recvRaw(20, 3000);
    EXPECT_EQ(hexOf(cut), hexOf(framed(header(0, 0x02, 28, 0x22) + "210100")).substr(0, 2 * (4 + 6)));
    EXPECT_TRUE(host->waitClosed());
    connect();
    ASSERT_TRUE(host->send(header(0, 0x82, 29, 0x23)));
    EXPECT_EQ(hexOf(host->recvRaw(20, 3000)), "deadbeef");
    EXPECT_TRUE(host->waitClosed());
    connect();
    served(0x24);

    const char* logged[] = {"reject on select (rule 12)", "drop on linktest (rule 13)",
                            "delay on linktest (rule 14)", "delay on S1F1 (rule 1)",
                            "drop on S2F13 (rule 2)", "reply on S2F15 (rule 3)",
                            "s9 on S2F19 (rule 4)", "systemBytes on S2F21 (rule 5)",
                            "duplicate on S2F23 (rule 6)", "dribble on S2F25 (rule 7)",
                            "ignore on separate (rule 15)", "disconnect on S2F33 (rule 11)",
                            "disconnect on S2F31 (rule 10)", "truncate on S2F27 (rule 8)",
                            "garbage on S2F29 (rule 9)"};
    for (const char* line : logged)
        EXPECT_EQ(tovik->count(std::string("Fault: ") + line), 1u) << line;
    EXPECT_EQ(tovik->countPrefix("Fault: "), std::size(logged));
}

// The same seed draws the same faults in a new run; `times` ends a rule.
TEST_F(Faults, SeededDrawsRepeatAndTimesStopsARule) {
    const std::string rules = R"([{"match": "S1F1", "action": "drop", "probability": 0.5, "seed": 42},
                                  {"match": "S1F3", "action": "duplicate", "times": 2}])";
    std::string runs[2];
    for (std::string& dropped : runs) {
        start(rules);
        connect();
        for (unsigned i = 0; i < 24; ++i) {
            ASSERT_TRUE(host->send(header(0, 0x81, 1, 0x100 + i)));
            ASSERT_TRUE(host->send(header(0, 0x82, 13, 0x200 + i)));
            const auto next = host->recv();
            ASSERT_TRUE(next);
            const bool answered = next->substr(4, 4) == "0102";
            if (answered) {
                EXPECT_EQ(host->recv(), header(0, 0x02, 14, 0x200 + i) + "210100");
            }
            dropped += answered ? '.' : 'x';
        }
        EXPECT_EQ(tovik->count("Fault: drop on S1F1 (rule 1)"),
                  static_cast<std::size_t>(std::count(dropped.begin(), dropped.end(), 'x')));
        for (unsigned i = 0; i < 3; ++i)
            ASSERT_TRUE(host->send(header(0, 0x81, 3, 0x300 + i)));
        for (unsigned reply : {0u, 0u, 1u, 1u, 2u})
            EXPECT_EQ(host->recv(), header(0, 0x01, 4, 0x300 + reply) + "210100");
    }
    EXPECT_EQ(runs[0], runs[1]);
    EXPECT_NE(runs[0].find('x'), std::string::npos) << runs[0];
    EXPECT_NE(runs[0].find('.'), std::string::npos) << runs[0];
}

TEST_F(Faults, ScriptAddsAndClearsRulesAndSendRulesShapeItsOwnSends) {
    start({}, R"JS(const id = tovik.fault({match: 'S1F1', action: 'drop'});
tovik.log(`fault ${id}`);
try { tovik.fault({match: 'S1F1', action: 'drop', tiems: 2}); } catch (e) { tovik.log(e.message); }
tovik.fault({match: 'S5F1', send: true, action: 'duplicate', times: 1});
tovik.on('S1F3', () => { tovik.log(`cleared ${tovik.clearFault(id)} ${tovik.clearFault(id)}`); });
tovik.onSelect((on) => { if (on) tovik.send('s5f1 <b 0x01>'); });
)JS");
    connect();
    // The script's own send, twice; the rule's times then ends it.
    const auto sent = host->recv();
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->substr(4, 4), "0501");
    EXPECT_EQ(host->recv(), sent);
    ASSERT_TRUE(host->send(header(0, 0x81, 1, 0x31)));
    ASSERT_TRUE(host->send(header(0, 0x81, 3, 0x32)));
    EXPECT_EQ(host->recv(), header(0, 0x01, 4, 0x32) + "210100");
    served(0x33);
    EXPECT_EQ(tovik->count("fault 1"), 1u);
    EXPECT_EQ(tovik->count("tovik.fault: key 'tiems' does not belong to action drop"), 1u);
    EXPECT_EQ(tovik->count("cleared true false"), 1u);
    EXPECT_EQ(tovik->count("Fault: duplicate on S5F1 (rule 2)"), 1u);
    EXPECT_EQ(tovik->count("Fault: drop on S1F1 (rule 1)"), 1u);
}

// A bad rule stops the start, naming the file, the rule and the problem.
TEST(FaultFile, BadRuleEndsTheStartWithStatus2) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.json"));
    const std::pair<const char*, const char*> cases[] = {
        {R"([{"match": "S1F1", "action": "drop"}, {"match": "S1F1", "action": "delay", "ms": -3}])",
         "bad.json: rule 1: 'ms' must be a whole number from 0 to 3600000"},
        {R"([{"match": "S1", "action": "drop"}])",
         "bad.json: rule 0: 'match' S1 is not SxFy, *, select, linktest or separate"},
        {R"([{"match": "select", "action": "reject", "status": 4}])",
         "bad.json: rule 0: 'status' must be a whole number from 1 to 3"},
        {R"([{"match": "linktest", "action": "truncate"}])",
         "bad.json: rule 0: action truncate does not apply to linktest"},
        {R"([{"match": "*", "action": "s9", "function": 2}])",
         "bad.json: rule 0: 'function' must be 1, 3, 5, 7, 9 or 11"},
        {R"([{"match": "S2F41", "action": "reply", "sml": "<l"}])", "bad.json: rule 0: 'sml' does not load: "},
    };
    for (const auto& [rules, error] : cases) {
        writeFile(path, rules);
        Settings settings;
        settings.localPort = freePort();
        Tovik tovik(settings, kDocument, true, {}, {QStringLiteral("--faults"), path});
        EXPECT_EQ(tovik.exitCode(), 2) << rules;
        EXPECT_NE(tovik.err().find(error), std::string::npos) << tovik.err();
        EXPECT_EQ(tovik.countPrefix("HSMS port"), 0u);
    }
}
