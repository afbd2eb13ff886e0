// tovik --headless as passive HSMS equipment, driven by a host of our own
// over raw sockets: what only the running program shows (its first lines, a
// signal, a broken document). Hosts that misbehave are in tests/abuse, many
// hosts at once in test_many_hosts.
#include "harness.h"

#include <gtest/gtest.h>

using namespace harness;

namespace {

struct Equipment : ::testing::Test {
    Settings settings;
    std::unique_ptr<Tovik> tovik;
    RawHost host;

    void start(const std::string& document = kDocument, bool writeDocument = true) {
        settings.localPort = freePort();
        tovik = std::make_unique<Tovik>(settings, document, writeDocument);
        ASSERT_TRUE(tovik->waitLine("HSMS port has been opened successfully.")) << tovik->err();
        ASSERT_TRUE(host.connect(settings.localPort));
    }
    void select(unsigned system = 0x1001) {
        ASSERT_TRUE(host.send(header(0xffff, 0, 0, system, 1)));
        EXPECT_EQ(host.recv(), header(0xffff, 0, 0, system, 2));
    }
};

} // namespace

TEST_F(Equipment, BannerAndPortFirstThenSigtermStopsWithoutClosingLines) {
    start();
    const auto lines = tovik->lines();
    ASSERT_GE(lines.size(), 17u);
    EXPECT_EQ(lines[0], "****************************************");
    EXPECT_EQ(lines[1], "*   Tovika - A HSMS/SECS Simulator     *");
    EXPECT_EQ(lines[14], "****************************************");
    EXPECT_EQ(lines[15], " ");
    EXPECT_EQ(lines[16], "HSMS port has been opened successfully.");
    select();
    EXPECT_EQ(tovik->terminate(), 0);
    EXPECT_EQ(tovik->count("Closed HSMS port"), 0u);
    EXPECT_EQ(tovik->countPrefix("Disconnected with "), 0u);
    EXPECT_TRUE(host.waitClosed()); // the system closed it with the process
}

TEST_F(Equipment, SyntaxErrorKeepsTheDefinitionsBeforeIt) {
    start(std::string(kDocument).substr(0, 80) + "\r\n'broken\r\nBegin Junk\r\n");
    // The box's text and its detail on one line of standard error.
    const std::string err = tovik->err();
    const std::size_t at = err.find("tovik: Syntax error: equipment.tvkm, line ");
    ASSERT_NE(at, std::string::npos) << err;
    const std::string line = err.substr(at, err.find('\n', at) - at);
    EXPECT_NE(line.find(" parse error; Last token was "), std::string::npos) << line;
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 4)));
    EXPECT_EQ(host.recv(), header(0, 0x01, 2, 4) + kS1F2Body);
}


#ifdef TOVIK_CODEC_EXE
// Outside text on each path to a terminal: its control characters escaped
// as \xHH, no line of its own. The program: a definition's name (CR LF and
// ESC, from the file's \x escapes), a script's file name with a line feed,
// the script's tovik.log words. tovik-codec list: that name, a file name with
// a line feed and an ESC as the parser's last token.
TEST(OutsideText, IsEscapedAndAddsNoLine) {
    const std::string definition = "'bad\\x0d\\x0aSend\\x1b[2J'\r\nBegin List\r\ns1f1w\r\n<x>\r\nEnd List\r\n\r\n";
    QTemporaryDir scripts;
    const QString script = scripts.filePath(QStringLiteral("s\nReceived.js"));
    writeFile(script, "try { tovik.send(tovik.definition('bad\\r\\nSend\\x1b[2J')); } catch (e) {}\n"
                      "tovik.log('said\\r\\nReceived'); tovik.exit(0);\n");
    Settings settings;
    settings.localPort = freePort();
    Tovik tovik(settings, definition, true, {}, {QStringLiteral("--script"), script});
    ASSERT_EQ(tovik.exitCode(), 0) << tovik.err();

    const QString odd = tovik.dir.filePath(QStringLiteral("odd\nSend.tvkm"));
    writeFile(odd, definition + "\x1b[2J\r\n");
    QProcess codec;
    codec.start(QStringLiteral(TOVIK_CODEC_EXE), {QStringLiteral("list"), odd});
    ASSERT_TRUE(codec.waitForFinished());
    const std::string listed = codec.readAllStandardOutput().toStdString();
    const std::string listErr = codec.readAllStandardError().toStdString();

    struct Row {
        const char* path;
        std::string output;
        std::string line;   // the escaped line, whole or its start
        std::string forged; // the start of the line a break would have made
    };
    const Row rows[] = {
        {"definition name", tovik.out(), "Cannot load message 'bad\\x0d\\x0aSend\\x1b[2J': ", "Send"},
        {"script file name", tovik.out(), "Script loaded: s\\x0aReceived.js", "Received"},
        {"tovik.log", tovik.out(), "said\\x0d\\x0aReceived", "Received"},
        {"codec list name", listed, "bad\\x0d\\x0aSend\\x1b[2J\tS1F1\tSML", "Send"},
        {"codec file name", listErr, tovik.dir.filePath(QStringLiteral("odd\\x0aSend.tvkm:")).toStdString(), "Send"},
        {"codec last token", listErr, "Last token was \"\\x1b\"", "\x1b"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(row.output.find_first_of("\r\x1b"), std::string::npos) << row.output;
        bool found = false;
        std::size_t at = 0;
        for (std::size_t nl; (nl = row.output.find('\n', at)) != std::string::npos; at = nl + 1) {
            const std::string line = row.output.substr(at, nl - at);
            found = found || line.rfind(row.line, 0) == 0;
            EXPECT_NE(line.rfind(row.forged, 0), 0u) << line;
        }
        EXPECT_TRUE(found) << row.output;
    }
}
#endif

// A port the start cannot open ends the headless run at once with status 1,
// after the usual lines; --keep-going runs on until SIGTERM.
TEST(BusyPort, EndsTheStartWithStatusOneUnlessKeepGoing) {
    RawListener taken;
    Settings s;
    s.localPort = taken.port();
    Tovik failing(s);
    EXPECT_EQ(failing.exitCode(2000), 1) << failing.out(); // about 0.2 s, the start included
    EXPECT_EQ(failing.count("Error : Cannot open HSMS port."), 1u) << failing.out();

    Tovik going(s, kDocument, true, {}, {QStringLiteral("--keep-going")});
    ASSERT_TRUE(going.waitLine("Error : Cannot open HSMS port.")) << going.err();
    EXPECT_FALSE(going.proc.waitForFinished(500));
    EXPECT_EQ(going.terminate(), 0);
}
