// Reply scripts in the real program: tovik --headless with a script beside
// its document (or named by the settings or the command line), driven by a
// host of our own on raw sockets. What the host receives and what the event
// log says are the checks.
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

using namespace harness;

namespace {

std::string readSource(const char* relative) {
    std::ifstream in(std::string(TOVIK_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Position of the first line equal to `line` at or after `from`; npos when none.
std::size_t lineAt(const std::vector<std::string>& lines, const std::string& line,
                   std::size_t from = 0) {
    for (std::size_t i = from; i < lines.size(); ++i)
        if (lines[i] == line)
            return i;
    return std::string::npos;
}

// One byte of an ASCII text as hex digits.
std::string asciiHex(const std::string& text) {
    return hexOf(Bytes(text.begin(), text.end()));
}

struct Script : ::testing::Test {
    Settings settings;
    std::unique_ptr<Tovik> tovik;
    RawHost host;

    // Tovik with `script` as equipment.js beside its document.
    void start(const std::string& script, const Tovik::Files& more = {},
               const QStringList& options = {}, const std::string& document = kDocument) {
        settings.localPort = freePort();
        Tovik::Files files = more;
        if (!script.empty())
            files.emplace_back(QStringLiteral("equipment.js"), script);
        tovik = std::make_unique<Tovik>(settings, document, true, files, options);
        ASSERT_TRUE(tovik->waitLine("HSMS port has been opened successfully.")) << tovik->err();
        ASSERT_TRUE(host.connect(settings.localPort));
    }
    void exchange(const std::string& request, const std::string& body, const std::string& reply) {
        ASSERT_TRUE(host.send(request, body));
        EXPECT_EQ(host.recv(), reply) << "for " << request << body;
    }
    std::string path(const char* name) const {
        return tovik->dir.filePath(QLatin1String(name)).toStdString();
    }
};

// The handlers' results, one message each. Line numbers matter: the error
// entry names them.
const char* kResultKinds = R"JS(tovik.on('*', (msg) => {
    tovik.log(`saw S${msg.stream}F${msg.function} w=${msg.wbit} dev=${msg.device} sys=${msg.systemBytes}`);
});
tovik.on('s1f1', () => "s1f2 <a'SCRIPTED'>");
tovik.on('S2F17', () => tovik.definition('S2F18 Second'));
tovik.on('S1F13', () => null);
tovik.on('S2F41', (msg) => `{ <b 0x0${msg.item(0).value === 'START' ? 0 : 1}> {} }`);
tovik.on('S5F1', () => { throw new Error('alarm handler broke'); });
tovik.on('S6F*', (msg) => {
    tovik.log(`body ${JSON.stringify(msg.body)}`);
    tovik.log(`item ${JSON.stringify(msg.item(1, 0))} ${msg.item(9)} ${msg.item(0, 0)}`);
    tovik.log(`sml ${msg.sml.split('\n')[0]}`);
});
tovik.on('S10F1', () => { for (;;) {} });
tovik.on('S1F3', () => { tovik.send('s6f11 <u4 9>'); });
tovik.on('S6F13', (msg) => tovik.log(`f8 ${msg.body.values.join(' ')}`));
)JS";

// A body with one item of most formats, the 8-byte one beyond 2^53.
const char* kS6F11Body = "0106"
                         "b10400000007"
                         "0102"
                         "41026869"
                         "25020100"
                         "6108fffffffffffffffb"
                         "a1081000000000000000"
                         "210201ff"
                         "91043fc00000";

} // namespace

TEST_F(Script, EachHandlerResultDecidesTheReply) {
    start(kResultKinds);
    ASSERT_TRUE(tovik->waitLine("Script loaded: equipment.js"));

    // A string: the script's SML, with the request's system bytes.
    exchange(header(0, 0x81, 1, 0x0a), "",
             header(0, 0x01, 2, 0x0a) + "4108" + asciiHex("SCRIPTED"));
    // A definition of the document, chosen by name.
    exchange(header(0, 0x82, 17, 0x0b), "",
             header(0, 0x02, 18, 0x0b) + "4108" + asciiHex("20250101"));
    // null: nothing at all. The next answer is the very next frame.
    ASSERT_TRUE(host.send(header(0, 0x81, 13, 0x0c)));
    // A text without stream and function is completed as the reply.
    exchange(header(0, 0x82, 41, 0x0d), "01024105" + asciiHex("START") + "0100",
             header(0, 0x02, 42, 0x0d) + "010221010001"
                                         "00");
    // undefined everywhere: the document's answer (here none, so <b 0>),
    // also after a handler sent a message of its own.
    ASSERT_TRUE(host.send(header(0, 0x81, 3, 0x0f)));
    const auto own = host.recv();
    ASSERT_TRUE(own);
    EXPECT_EQ(own->substr(0, 12), "0000060b0000");
    EXPECT_EQ(own->substr(20), "b10400000009");
    EXPECT_EQ(host.recv(), header(0, 0x01, 4, 0x0f) + "210100");
    // An exception: logged with file and line, the document answers.
    exchange(header(0, 0x85, 1, 0x10), "", header(0, 0x05, 2, 0x10) + "210100");
    EXPECT_TRUE(tovik->waitLine("Script error: equipment.js line 8: Error: alarm handler broke"));
    // The item tree of every format.
    exchange(header(0, 0x86, 11, 0x11), kS6F11Body, header(0, 0x06, 12, 0x11) + "210100");
    EXPECT_TRUE(tovik->waitLine(
        R"(body {"type":"L","items":[{"type":"U4","values":[7]},{"type":"L","items":[{"type":"A","value":"hi"},)"
        R"({"type":"BOOLEAN","values":[true,false]}]},{"type":"I8","values":[-5]},)"
        R"({"type":"U8","values":["1152921504606846976"]},{"type":"B","values":[1,255]},{"type":"F4","values":[1.5]}]})"))
        << tovik->out();
    EXPECT_TRUE(tovik->waitLine(R"(item {"type":"A","value":"hi"} undefined undefined)"));
    EXPECT_TRUE(tovik->waitLine("sml s6f11w"));
    // Numbers JSON has no text for reach the script as they are.
    exchange(header(0, 0x86, 13, 0x20), "8118" "7ff8000000000000" "8000000000000000" "3fb999999999999a",
             header(0, 0x06, 14, 0x20) + "210100");
    EXPECT_TRUE(tovik->waitLine("f8 NaN 0 0.1")) << tovik->out();
    // A runaway handler is stopped after 1 s; the document answers, and the
    // script goes on answering afterwards.
    exchange(header(0, 0x8a, 1, 0x12), "", header(0, 0x0a, 2, 0x12) + "210100");
    EXPECT_TRUE(tovik->waitLine("Script interrupted: a handler ran longer than 1 s."));
    EXPECT_TRUE(tovik->waitLine("Script interrupted: equipment.js, the handler for S10F1 registered at line 14; "
                                "the reply is <b 0>, the document has no S10F2.")) << tovik->out();
    exchange(header(0, 0x81, 1, 0x13), "",
             header(0, 0x01, 2, 0x13) + "4108" + asciiHex("SCRIPTED"));

    EXPECT_TRUE(tovik->waitLine("saw S1F1 w=true dev=0 sys=10"));
    EXPECT_TRUE(tovik->waitLine("saw S6F11 w=true dev=0 sys=17"));
    // Every reply went through the send pipeline with its log entry.
    EXPECT_TRUE(tovik->waitLine("Send ", 10));
    EXPECT_EQ(tovik->count("Send "), 10u);
}

TEST_F(Script, SendsLaterRepliesTimersAndAScenario) {
    settings.t3 = 3000;
    start(R"JS(
tovik.on('S1F1', (msg) => {
    tovik.after(50, () => tovik.reply(msg, "s1f2 <a'LATER'>"));
    return null;
});
tovik.on('S2F17', () => {
    tovik.run(function* () {
        tovik.log('scenario: start');
        yield tovik.sleep(20);
        const r = yield tovik.send('s1f13w {}');
        tovik.log(`scenario: S${r.stream}F${r.function} ${r.item(0).values[0]}`);
        try {
            yield tovik.send('s2f25w <b 0x01>');
            tovik.log('scenario: S2F26?');
        } catch (e) {
            tovik.log(`scenario: ${e.message}`);
        }
        let n = 0;
        yield new Promise((done) => {
            const id = tovik.every(10, () => { if (++n === 3) { tovik.cancel(id); done(); } });
        });
        yield tovik.sleep(50);
        tovik.log(`scenario: ticks ${n}`);
        yield tovik.send('s6f11 <u4 1>');
        tovik.log('scenario: done');
    });
    return null;
});
)JS");
    // A reply given later still carries the request's system bytes.
    exchange(header(0, 0x81, 1, 0x21), "", header(0, 0x01, 2, 0x21) + "4105" + asciiHex("LATER"));

    ASSERT_TRUE(host.send(header(0, 0x82, 17, 0x22)));
    const auto s1f13 = host.recv();
    ASSERT_TRUE(s1f13);
    ASSERT_EQ(s1f13->substr(0, 12), "0000810d0000") << *s1f13;
    EXPECT_EQ(s1f13->substr(20), "0100");
    ASSERT_TRUE(host.send("0000010e0000" + s1f13->substr(12, 8), "010221010001"
                                                                 "00"));

    // Never answered: after T3, S9F9 about it, and the scenario hears "T3".
    const auto s2f25 = host.recv();
    ASSERT_TRUE(s2f25);
    ASSERT_EQ(s2f25->substr(0, 12), "000082190000") << *s2f25;
    const auto s9f9 = host.recv(10000);
    ASSERT_TRUE(s9f9);
    EXPECT_EQ(s9f9->substr(0, 12), "000009090000");
    EXPECT_EQ(s9f9->substr(20, 4), "210a");
    EXPECT_EQ(s9f9->substr(36, 8), s2f25->substr(12, 8)) << "the body is the expired header";

    // Without W-bit the send settles at once.
    const auto s6f11 = host.recv();
    ASSERT_TRUE(s6f11);
    EXPECT_EQ(s6f11->substr(0, 12), "0000060b0000");
    ASSERT_TRUE(tovik->waitLine("scenario: done"));

    const auto lines = tovik->lines();
    std::size_t at = 0;
    for (const char* step : {"scenario: start", "scenario: S1F14 0", "T3 time out ", "scenario: T3",
                             "scenario: ticks 3", "scenario: done"}) {
        const std::size_t next = lineAt(lines, step, at);
        ASSERT_NE(next, std::string::npos) << step << " after line " << at << "\n" << tovik->out();
        at = next;
    }
    EXPECT_EQ(tovik->count("scenario: S2F26?"), 0u);
}

TEST_F(Script, RunawayTimerAndPromiseCallbackAreStoppedAndTheScriptGoesOn) {
    start(R"JS(
tovik.after(10, () => { for (;;) {} });
tovik.after(20, () => { tovik.sleep(10).then(() => { tovik.log('reaction'); for (;;) {} }); });
tovik.on('S1F1', () => "s1f2 <a'OK'>");
)JS");
    ASSERT_TRUE(tovik->waitLine("Script interrupted: a timer ran longer than 1 s."));
    ASSERT_TRUE(tovik->waitLine("Script interrupted: a promise reaction ran longer than 1 s."));
    EXPECT_TRUE(tovik->waitLine("reaction"));
    exchange(header(0, 0x81, 1, 5), "", header(0, 0x01, 2, 5) + "4102" + asciiHex("OK"));
}

// Scripts that would hold the program for good: each is stopped, a host is
// answered within 2 s of the program's CPU time after the trigger, and
// SIGTERM still ends the run at once.
TEST_F(Script, NoScriptHangsOrKillsTheProgram) {
    using Clock = std::chrono::steady_clock;
    const std::string ok = header(0, 0x01, 2, 2) + "4102" + asciiHex("OK");
    const std::string document = header(0, 0x01, 2, 2) + "01024102" + asciiHex("EQ") + "4101" + asciiHex("1");
    struct Case {
        const char* trigger; // S2F13's handler
        bool answered;       // the document answers S2F13 itself
        bool stopped;        // unloaded: the document answers S1F1 from then on
        const char* line;    // what the log says of it
    };
    const Case cases[] = {
        {"() => Promise.resolve({ then() { for (;;) {} } })", true, false,
         "Script interrupted: a promise reaction ran longer than 1 s."},
        {"() => new Proxy({}, { get() { for (;;) {} } })", true, false,
         "Script interrupted: a handler ran longer than 1 s."},
        {"() => { const f = () => Promise.resolve().then(f); f(); return null; }", false, true,
         "Script stopped: equipment.js kept the engine busy for more than 1 s in total; "
         "it is loaded again when its file changes."},
        {"() => { new Array(1e9).fill(0); return \"s2f14 <b 1>\"; }", true, true,
         "Script stopped: equipment.js went past its memory limit of 16 MB; "
         "it is loaded again when its file changes."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trigger);
        // A small limit for the huge array, so that memory stops it before time does.
        settings.scriptExtra = c.stopped && c.answered ? "MemoryLimitMB=16\n" : "";
        start(std::string("tovik.on('S1F1', () => \"s1f2 <a'OK'>\");\ntovik.on('S2F13', ") + c.trigger + ");\n");
        const auto cpu0 = tovik->cpuUsed();
        ASSERT_TRUE(host.send(header(0, 0x82, 13, 1)));
        ASSERT_TRUE(host.send(header(0, 0x81, 1, 2)));
        if (c.answered) {
            EXPECT_EQ(host.recv(), header(0, 0x02, 14, 1) + "210100");
        }
        // A runaway chain still lets the script answer; past a memory limit
        // the document does.
        EXPECT_EQ(host.recv(), c.stopped && c.answered ? document : ok);
        EXPECT_LT(tovik->cpuUsed() - cpu0, std::chrono::seconds(2));
        ASSERT_TRUE(tovik->waitLine(c.line)) << tovik->out();
        exchange(header(0, 0x81, 1, 2), "", c.stopped ? document : ok);
        const auto t1 = Clock::now();
        EXPECT_EQ(tovik->terminate(), 0);
        EXPECT_LT(Clock::now() - t1, std::chrono::seconds(2));
        host.close();
    }
}

TEST_F(Script, ReloadsOnChangeAndABrokenScriptLeavesTheDocumentAnswering) {
    start("tovik.on('S1F1', () => \"s1f2 <a'ONE'>\");\nPromise.resolve().then(() => tovik.log('first'));\n");
    ASSERT_TRUE(tovik->waitLine("Script loaded: equipment.js"));
    exchange(header(0, 0x81, 1, 1), "", header(0, 0x01, 2, 1) + "4103" + asciiHex("ONE"));

    // The reloaded script's promise jobs are watched as the first one's were.
    writeFile(QString::fromStdString(path("equipment.js")),
              "tovik.on('S1F1', () => \"s1f2 <a'TWO'>\");\n"
              "Promise.resolve().then(() => { const t = Date.now(); while (Date.now() - t < 3000) {} });\n");
    ASSERT_TRUE(tovik->waitLine("Script loaded: equipment.js", 2));
    ASSERT_TRUE(tovik->waitLine("Script interrupted: a promise reaction ran longer than 1 s.")) << tovik->out();
    exchange(header(0, 0x81, 1, 2), "", header(0, 0x01, 2, 2) + "4103" + asciiHex("TWO"));

    // An editor that saves by writing a new file and renaming it over the old.
    writeFile(QString::fromStdString(path("new.js")),
              "tovik.on('S1F1', () => \"s1f2 <a'THREE'>\");\n");
    ASSERT_EQ(std::rename(path("new.js").c_str(), path("equipment.js").c_str()), 0);
    ASSERT_TRUE(tovik->waitLine("Script loaded: equipment.js", 3));
    exchange(header(0, 0x81, 1, 3), "", header(0, 0x01, 2, 3) + "4105" + asciiHex("THREE"));

    writeFile(QString::fromStdString(path("equipment.js")),
              "tovik.on('S1F1', () => 'x');\nlet = ;\n");
    ASSERT_TRUE(Tovik::waitFor([&] {
        return tovik->countPrefix("Script error: equipment.js line 2: SyntaxError") == 1;
    })) << tovik->out();
    exchange(header(0, 0x81, 1, 4), "", header(0, 0x01, 2, 4) + kS1F2Body);
}

TEST_F(Script, CommandLineWinsOverTheSettingWhichWinsOverTheFileBeside) {
    const std::string exits = "tovik.log(`loaded ${tovik.connected}`); tovik.exit(";
    settings.scriptFile = "sub/chosen.js";
    const Tovik::Files files = {{QStringLiteral("sub/chosen.js"), exits + "4);"},
                                {QStringLiteral("other.js"), exits + "5);"}};
    settings.localPort = freePort();
    {
        Tovik setting(settings, kDocument, true, files);
        EXPECT_EQ(setting.exitCode(), 4) << setting.out() << setting.err();
        EXPECT_EQ(setting.count("Script loaded: chosen.js"), 1u);
        EXPECT_EQ(setting.count("loaded false"), 1u); // before the ports open
    }
    {
        Tovik commandLine(settings, kDocument, true, files);
        commandLine.proc.waitForFinished();
        Tovik::Files withBeside = files;
        withBeside.emplace_back(QStringLiteral("equipment.js"), exits + "6);");
        Tovik run(
            settings, kDocument, true, withBeside,
            {QStringLiteral("--script"), commandLine.dir.filePath(QStringLiteral("other.js"))});
        EXPECT_EQ(run.exitCode(), 5) << run.out() << run.err();
        EXPECT_EQ(run.count("Script loaded: other.js"), 1u);
    }
    settings.scriptFile.clear();
    Tovik beside(settings, kDocument, true, {{QStringLiteral("equipment.js"), exits + "6);"}});
    EXPECT_EQ(beside.exitCode(), 6) << beside.out() << beside.err();
    EXPECT_EQ(beside.count("Script loaded: equipment.js"), 1u);
}

TEST(ScriptOption, WithoutAFileIsAUsageError) {
    QProcess tovik;
    tovik.start(QStringLiteral(TOVIK_EXE),
                {QStringLiteral("--headless"), QStringLiteral("--script")});
    ASSERT_TRUE(tovik.waitForFinished(20000));
    EXPECT_EQ(tovik.exitCode(), 2);
    EXPECT_TRUE(
        tovik.readAllStandardError().startsWith("tovik: --script needs a FILE\nUsage: tovik "));
}

TEST_F(Script, ExampleConditionalRepliesAnswerByCommandAndByStatusVariable) {
    start(readSource("examples/scripts/conditional.js"), {}, {},
          readSource("examples/equipment.tvkm"));
    exchange(header(0, 0x82, 41, 1), "01024105" + asciiHex("START") + "0100",
             header(0, 0x02, 42, 1) + "010221010001"
                                      "00");
    exchange(header(0, 0x82, 41, 2), "01024104" + asciiHex("STOP") + "0100",
             header(0, 0x02, 42, 2) + "010221010101"
                                      "00");
    EXPECT_TRUE(tovik->waitLine("S2F41 STOP refused"));
    // SVIDs 2, 9 (unknown) and 1: the state, an empty item, the seconds.
    ASSERT_TRUE(host.send(header(0, 0x81, 3, 3), "0103b10400000002b10400000009b10400000001"));
    const auto reply = host.recv();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->substr(0, 20), header(0, 0x01, 4, 3));
    EXPECT_EQ(reply->substr(20, 34), "01034109" + asciiHex("EXECUTING") +
                                         "0100"
                                         "b104");
    EXPECT_EQ(reply->size(), 20u + 34u + 8u);
}

// Connected but not selected, the equipment sends no data; selected, it reports.
TEST_F(Script, ExampleEventsReportWhileSelected) {
    start(readSource("examples/scripts/events.js"), {}, {}, readSource("examples/equipment.tvkm"));
    EXPECT_FALSE(host.recv(1000));
    ASSERT_TRUE(host.send(header(0xffff, 0, 0, 1, 1)));
    EXPECT_EQ(host.recv(), header(0xffff, 0, 0, 1, 2));
    for (int dataId = 1; dataId <= 2; ++dataId) {
        const auto s6f11 = host.recv(10000);
        ASSERT_TRUE(s6f11) << tovik->out();
        ASSERT_EQ(s6f11->substr(0, 12), "0000860b0000");
        EXPECT_EQ(s6f11->substr(20, 56), "0103"
                                         "b1040000000" +
                                             std::to_string(dataId) +
                                             "b10400000fa1"
                                             "0101"
                                             "0102"
                                             "b10400000064"
                                             "0101"
                                             "410e");
        // The time as YYYYMMDDhhmmss: fourteen ASCII digits.
        const std::string time = s6f11->substr(76);
        ASSERT_EQ(time.size(), 28u);
        for (std::size_t i = 0; i < time.size(); i += 2)
            EXPECT_TRUE(time[i] == '3' && std::isdigit(static_cast<unsigned char>(time[i + 1])))
                << time;
        ASSERT_TRUE(host.send("0000060c0000" + s6f11->substr(12, 8), "2101"
                                                                     "00"));
    }
    EXPECT_EQ(tovik->countPrefix("S6F11 DATAID"), 0u) << "every report acknowledged";
}

TEST_F(Script, ExampleScenarioPassesAgainstTheExampleEquipmentAndFailsOtherwise) {
    for (const bool example : {true, false}) {
        Settings equipmentSettings;
        equipmentSettings.localPort = freePort();
        Tovik equipment(equipmentSettings,
                        example ? readSource("examples/equipment.tvkm") : kDocument);
        ASSERT_TRUE(equipment.waitLine("HSMS port has been opened successfully."));

        Settings hostSettings;
        hostSettings.server = false;
        hostSettings.port = equipmentSettings.localPort;
        hostSettings.localPort = 0;
        Tovik scenario(hostSettings, readSource("examples/host.tvkm"), true, {},
                       {QStringLiteral("--script"),
                        QStringLiteral(TOVIK_SOURCE_DIR "/examples/scripts/scenario.js")});
        const int code = scenario.exitCode(40000);
        if (example) {
            EXPECT_EQ(code, 0) << scenario.out();
            EXPECT_EQ(scenario.count("Scenario passed: TOVIK-EQ 1.0.0"), 1u);
        } else {
            EXPECT_EQ(code, 1) << scenario.out();
            EXPECT_EQ(scenario.countPrefix("Scenario failed: "), 1u);
        }
    }
}
