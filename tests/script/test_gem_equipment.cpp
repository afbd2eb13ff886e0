// The shipped GEM equipment (examples/gem) run by the real program on a copy
// of its files, driven by a GEM host of our own whose frames are built by
// hand from the message layouts a host sends and expects.
#include "harness.h"
#include "http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <tuple>

using namespace harness;

namespace {

std::string readSource(const std::string& relative) {
    std::ifstream in(std::string(TOVIK_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Body items as hex.
std::string hex8(unsigned v) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02x", v & 0xff);
    return buf;
}
std::string L(unsigned n) { return "01" + hex8(n); }
std::string U4(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "b104%08x", v);
    return buf;
}
std::string A(const std::string& text) { return "41" + hex8(static_cast<unsigned>(text.size())) + hexOf(Bytes(text.begin(), text.end())); }
std::string B(unsigned code) { return "2101" + hex8(code); }
std::string F4(const char* bitsHex) { return std::string("9104") + bitsHex; }
const std::string kTrue = "250101";
std::string U1(unsigned v) { return "a501" + hex8(v); }
std::string Bin(const std::string& bytesHex) { return "21" + hex8(static_cast<unsigned>(bytesHex.size() / 2)) + bytesHex; }

struct Gem : ::testing::Test {
    Settings settings;
    std::unique_ptr<Tovik> tovik;
    RawHost host;
    unsigned system = 0x100;
    int port = 0;
    QStringList options; // before SetUp: the program's command line

    void SetUp() override {
        port = freePort();
        std::string ini = readSource("examples/gem/equipment.ini");
        for (const char* field : {"PortNumber=5000", "LocalPortNumber=5000"}) {
            const auto at = ini.find(field);
            ASSERT_NE(at, std::string::npos) << field;
            ini.replace(at + std::strlen(field) - 4, 4, std::to_string(port));
        }
        ASSERT_NE(ini.find("Server=1"), std::string::npos) << "the equipment is passive";
        tovik = std::make_unique<Tovik>(settings, readSource("examples/gem/equipment.tvkm"), true,
                                        Tovik::Files{{QStringLiteral("equipment.ini"), ini},
                                                     {QStringLiteral("equipment.js"), readSource("examples/gem/equipment.js")},
                                                     {QStringLiteral("equipment.json"), readSource("examples/gem/equipment.json")}},
                                        options);
        ASSERT_TRUE(tovik->waitLine("Script loaded: equipment.js")) << tovik->out();
        ASSERT_TRUE(tovik->waitLine("HSMS port has been opened successfully.")) << tovik->out();
        ASSERT_TRUE(host.connect(port));
    }

    // Selected, communicating and on-line remote.
    void online() {
        select();
        request(1, 17, "", B(0));
    }
    void select() {
        ASSERT_TRUE(host.send(header(0xffff, 0, 0, 1, 1)));
        EXPECT_EQ(host.recv(), header(0xffff, 0, 0, 1, 2));
        expectPrimary(1, 13, L(2) + A("TOVIK-GEM") + A("1.0.0"), L(2) + B(0) + L(0));
    }
    // equipment.json with the chamber temperature changed, the script loaded again.
    void editTemperature(const std::string& value, std::size_t loads) {
        std::string model = readSource("examples/gem/equipment.json");
        const std::string temperature = "\"value\": 180.5";
        model.replace(model.find(temperature), temperature.size(), "\"value\": " + value);
        writeFile(tovik->dir.filePath(QStringLiteral("equipment.json")), model);
        ASSERT_TRUE(tovik->waitLine("Script loaded: equipment.js", loads)) << tovik->out();
    }
    // Report RPTID of the VIDs linked to CEID, which is enabled.
    void reportOn(uint32_t ceid, uint32_t rptid, const std::vector<uint32_t>& vids) {
        std::string v = L(static_cast<unsigned>(vids.size()));
        for (uint32_t vid : vids)
            v += U4(vid);
        request(2, 33, L(2) + U4(1) + L(1) + L(2) + U4(rptid) + v, B(0));
        request(2, 35, L(2) + U4(2) + L(1) + L(2) + U4(ceid) + L(1) + U4(rptid), B(0));
        request(2, 37, L(2) + kTrue + L(1) + U4(ceid), B(0));
    }
    // A primary with W-bit from the host; the reply's header and body.
    void request(unsigned stream, unsigned function, const std::string& body, const std::string& replyBody) {
        ++system;
        ASSERT_TRUE(host.send(header(0, 0x80 | stream, function, system), body));
        EXPECT_EQ(host.recv(), header(0, stream, function + 1, system) + replyBody)
            << "S" << stream << "F" << function << " " << body << "\n" << tovik->out();
    }
    // A primary the equipment answers with SxF0.
    void refused(unsigned stream, unsigned function, const std::string& body) {
        ++system;
        ASSERT_TRUE(host.send(header(0, 0x80 | stream, function, system), body));
        EXPECT_EQ(host.recv(), header(0, stream, 0, system)) << "S" << stream << "F" << function;
    }
    // The equipment's next primary: checked, then answered.
    void expectPrimary(unsigned stream, unsigned function, const std::string& body, const std::string& replyBody) {
        const auto msg = host.recv(10000);
        ASSERT_TRUE(msg) << "no S" << stream << "F" << function << "\n" << tovik->out();
        ASSERT_EQ(msg->substr(0, 12), header(0, 0x80 | stream, function, 0).substr(0, 12)) << *msg;
        EXPECT_EQ(msg->substr(20), body) << "S" << stream << "F" << function;
        ASSERT_TRUE(host.send(header(0, stream, function + 1, 0).substr(0, 12) + msg->substr(12, 8), replyBody));
    }
};

} // namespace

TEST_F(Gem, AHostDrivesTheEquipmentThroughTheGemSequence) {
    // Select, then the equipment establishes communications itself.
    ASSERT_TRUE(host.send(header(0xffff, 0, 0, 1, 1)));
    EXPECT_EQ(host.recv(), header(0xffff, 0, 0, 1, 2));
    expectPrimary(1, 13, L(2) + A("TOVIK-GEM") + A("1.0.0"), L(2) + B(0) + L(0));
    EXPECT_TRUE(tovik->waitLine("GEM: communications established"));

    // Off-line: only S1F13, S1F17 and stream 9 are answered; the rest gets SxF0.
    refused(1, 3, L(0));
    refused(2, 41, L(2) + A("START") + L(0));
    request(1, 13, L(0), L(2) + B(0) + L(2) + A("TOVIK-GEM") + A("1.0.0"));
    request(1, 17, "", B(0));
    request(1, 17, "", B(2)); // already on-line

    // Status variables and constants by id; an unknown id gets an empty item.
    request(1, 3, L(3) + U4(1003) + U4(9999) + U4(1005), L(3) + A("IDLE") + L(0) + U4(0));
    request(1, 3, L(1) + U4(256), L(1) + L(0)); // its last bytes are those of an empty list
    request(1, 11, L(1) + U4(1004), L(1) + L(3) + U4(1004) + A("ChamberTemperature") + A("degC"));
    request(2, 29, L(1) + U4(2002),
            L(1) + L(6) + U4(2002) + A("ProcessTimeout") + U4(1) + U4(3600) + U4(600) + A("s"));

    // Reports: define (DRACK), link (LRACK), enable (ERACK).
    const std::string report100 = L(2) + U4(100) + L(3) + U4(1003) + U4(1006) + U4(2001);
    request(2, 33, L(2) + U4(1) + L(1) + report100, B(0));
    request(2, 33, L(2) + U4(2) + L(1) + report100, B(3));                                // defined already
    request(2, 33, L(2) + U4(3) + L(1) + L(2) + U4(101) + L(1) + U4(9999), B(4));         // no such variable
    request(2, 33, L(2) + U4(4) + L(1) + L(2) + U4(102) + L(1) + U4(1005), B(0));
    request(2, 33, L(2) + U4(5) + L(1) + L(2) + U4(102) + L(0), B(0));                    // deleted again
    request(2, 35, L(2) + U4(6) + L(1) + L(2) + U4(3001) + L(1) + U4(100), B(0));
    request(2, 35, L(2) + U4(7) + L(1) + L(2) + U4(3001) + L(1) + U4(100), B(3));         // linked already
    request(2, 35, L(2) + U4(8) + L(1) + L(2) + U4(9999) + L(1) + U4(100), B(4));         // no such event
    request(2, 35, L(2) + U4(9) + L(1) + L(2) + U4(3002) + L(1) + U4(102), B(5));         // no such report
    request(2, 37, L(2) + kTrue + L(1) + U4(9999), B(1));
    request(2, 37, L(2) + kTrue + L(1) + U4(3001), B(0));

    // Remote commands: unknown, bad parameter, then START; its event
    // report follows the reply, with the values the command set.
    request(2, 41, L(2) + A("JUMP") + L(0), L(2) + B(1) + L(0));
    request(2, 41, L(2) + A("START") + L(1) + L(2) + A("SPEED") + U4(3),
            L(2) + B(3) + L(1) + L(2) + A("SPEED") + B(1));
    request(2, 41, L(2) + A("START") + L(1) + L(2) + A("RECIPE") + U4(3),
            L(2) + B(3) + L(1) + L(2) + A("RECIPE") + B(3));
    request(2, 41, L(2) + A("START") + L(1) + L(2) + A("RECIPE") + A("R-7"), L(2) + B(0) + L(0));
    const std::string values = L(3) + A("EXECUTING") + A("R-7") + F4("437a0000"); // 250.0
    expectPrimary(6, 11, L(3) + U4(1) + U4(3001) + L(1) + L(2) + U4(100) + values, B(0));
    request(2, 41, L(2) + A("START") + L(0), L(2) + B(2) + L(0)); // not while executing
    request(6, 19, U4(100), values);
    request(6, 15, U4(3001), L(3) + U4(2) + U4(3001) + L(1) + L(2) + U4(100) + values);

    // Constants: EAC 1 unknown, 3 out of range (nothing changes), then a
    // change read back. The new limit is below the chamber temperature, so
    // the alarm is set: S5F1, and its text on the host's terminal.
    request(2, 15, L(2) + L(2) + U4(2002) + U4(30) + L(2) + U4(9999) + U4(1), B(1));
    request(2, 15, L(2) + L(2) + U4(2002) + U4(30) + L(2) + U4(2001) + F4("43fa0000"), B(3)); // 500
    request(2, 13, L(2) + U4(2002) + U4(2001), L(2) + U4(600) + F4("437a0000"));
    request(2, 15, L(1) + L(2) + U4(2001) + F4("42c80000"), B(0)); // 100
    expectPrimary(5, 1, L(3) + B(0x84) + U4(5001) + A("Chamber temperature above its limit"), B(0));
    expectPrimary(10, 1, L(2) + B(0) + A("Chamber temperature above its limit"), B(0));
    request(2, 13, L(1) + U4(2001), L(1) + F4("42c80000"));
    request(5, 5, "b100", L(1) + L(3) + B(0x84) + U4(5001) + A("Chamber temperature above its limit"));
    request(5, 3, L(2) + B(0x80) + U4(9999), B(1));
    request(5, 3, L(2) + B(0x00) + U4(5001), B(0));
    request(5, 7, "", L(0));

    // The clock: a time set by the host runs on from there, to the
    // centisecond and into the next second; a bad one is refused.
    request(2, 31, A("2030133112000000"), B(1));
    const auto set = std::chrono::steady_clock::now();
    request(2, 31, A("2030010112000090"), B(0));
    for (const int waitMs : {0, 150}) {
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        ++system;
        ASSERT_TRUE(host.send(header(0, 0x82, 17, system)));
        const auto time = host.recv();
        const auto elapsed = std::chrono::steady_clock::now() - set;
        ASSERT_TRUE(time && time->size() == 20 + 4 + 32);
        ASSERT_EQ(time->substr(0, 24), header(0, 2, 18, system) + "4110");
        std::string text;
        for (std::size_t i = 24; i < time->size(); i += 2)
            text += static_cast<char>(std::stoi(time->substr(i, 2), nullptr, 16));
        ASSERT_EQ(text.substr(0, 12), "203001011200");
        // Centiseconds since 12:00:00.00.
        const int cs = std::stoi(text.substr(12, 2)) * 100 + std::stoi(text.substr(14, 2));
        EXPECT_GE(cs, 90 + waitMs / 10) << text;
        EXPECT_LE(cs, 90 + std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() / 10 + 1) << text;
    }

    request(10, 3, L(2) + B(0) + A("hello"), B(0));
    EXPECT_TRUE(tovik->waitLine("Terminal: hello"));
    // S9F5 and S9F3 with the header of what the equipment does not know.
    for (const auto& [stream, function, s9] : {std::tuple{2u, 99u, 5u}, std::tuple{99u, 1u, 3u}}) {
        ++system;
        const std::string unknown = header(0, 0x80 | stream, function, system);
        ASSERT_TRUE(host.send(unknown, L(0)));
        const auto error = host.recv();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->substr(0, 12), header(0, 9, s9, 0).substr(0, 12));
        EXPECT_EQ(error->substr(20), "210a" + unknown);
    }
    // Off-line again: SxF0.
    request(1, 15, "", B(0));
    refused(2, 13, L(0));
    EXPECT_EQ(tovik->countPrefix("Script error"), 0u) << tovik->out();
}

// The operator's switch worked through the control API as from the dock:
// Off-line refuses the host's S1F17 (ONLACK 1) and data; Remote is on-line again.
// Headless, the panel is drawn only once someone reads it: the first read
// already shows what the host did before it.
struct GemPanel : Gem {
    void SetUp() override {
        options = {QStringLiteral("--api"), QStringLiteral("0")};
        Gem::SetUp();
    }
};
TEST_F(GemPanel, TheOperatorSwitchThroughTheApiDecidesOnLine) {
    online();
    // S1F14 settles the script's S1F13 in a later pass of the event loop.
    ASSERT_TRUE(tovik->waitLine("GEM: communications established"));
    const std::string prefix = "API listening on 127.0.0.1:";
    int api = 0;
    for (const auto& l : tovik->lines())
        if (l.rfind(prefix, 0) == 0)
            api = std::stoi(l.substr(prefix.size()));
    ASSERT_NE(api, 0) << tovik->out();
    const auto value = [&](const char* id) {
        const auto panel = httptest::request(api, "GET", "/api/panel");
        const auto at = panel.body.find(std::string("\"id\":\"") + id + "\"");
        const auto start = panel.body.rfind('{', at);
        return at == std::string::npos ? panel.body : panel.body.substr(start, panel.body.find('}', at) - start);
    };
    EXPECT_NE(value("controlState").find("\"value\":\"on-line remote\""), std::string::npos) << value("controlState");
    EXPECT_NE(value("communication").find("\"value\":\"communicating\""), std::string::npos) << value("communication");
    // Loaded again while it is read, the new script's panel is drawn as well.
    ASSERT_EQ(httptest::request(api, "POST", "/api/script/reload").status, 200);
    EXPECT_NE(value("controlState").find("\"value\":\"on-line remote\""), std::string::npos) << value("controlState");
    const auto off = httptest::request(api, "POST", "/api/panel/control", R"({"value": "Off-line"})");
    ASSERT_EQ(off.status, 200) << off.body;
    request(1, 17, "", B(1));
    refused(1, 3, L(0));
    ASSERT_EQ(httptest::request(api, "POST", "/api/panel/control", R"({"value": "Remote"})").status, 200);
    request(1, 3, L(1) + U4(1002), L(1) + U1(5));
    request(1, 17, "", B(2));
    EXPECT_EQ(tovik->countPrefix("Script error"), 0u) << tovik->out();
}

// Editing equipment.json loads the script again without resetting the
// equipment: no new S1F13, still on-line, the host's constant, report, link
// and enable kept, values edited in the file taken, and the temperature now
// above its limit sets the alarm at once.
TEST_F(Gem, AnEditedModelKeepsTheEquipmentAndRaisesItsAlarms) {
    ASSERT_TRUE(host.send(header(0xffff, 0, 0, 1, 1)));
    EXPECT_EQ(host.recv(), header(0xffff, 0, 0, 1, 2));
    expectPrimary(1, 13, L(2) + A("TOVIK-GEM") + A("1.0.0"), L(2) + B(0) + L(0));
    request(1, 17, "", B(0));
    request(2, 15, L(2) + L(2) + U4(2002) + U4(30) + L(2) + U4(2001) + F4("43af0000"), B(0)); // 350
    request(2, 33, L(2) + U4(1) + L(1) + L(2) + U4(100) + L(3) + U4(1004) + U4(2001) + U4(2002), B(0));
    request(2, 35, L(2) + U4(2) + L(1) + L(2) + U4(3011) + L(1) + U4(100), B(0));
    request(2, 37, L(2) + kTrue + L(1) + U4(3011), B(0));

    std::string model = readSource("examples/gem/equipment.json");
    const std::string temperature = "\"value\": 180.5";
    ASSERT_NE(model.find(temperature), std::string::npos);
    model.replace(model.find(temperature), temperature.size(), "\"value\": 300");
    // The file's new limit wins over the host's 350: it changed since the last load.
    const std::string limit = "\"default\": 250, \"value\": 250";
    ASSERT_NE(model.find(limit), std::string::npos);
    model.replace(model.find(limit), limit.size(), "\"default\": 250, \"value\": 200");
    writeFile(tovik->dir.filePath(QStringLiteral("equipment.json")), model);
    ASSERT_TRUE(tovik->waitLine("Script loaded: equipment.js", 2)) << tovik->out();

    const std::string text = A("Chamber temperature above its limit");
    expectPrimary(5, 1, L(3) + B(0x84) + U4(5001) + text, B(0));
    expectPrimary(10, 1, L(2) + B(0) + text, B(0));
    expectPrimary(6, 11, L(3) + U4(1) + U4(3011) + L(1) + L(2) + U4(100) + L(3) + F4("43960000") + F4("43480000") + U4(30), B(0));
    request(1, 3, L(1) + U4(1002), L(1) + "a50105"); // on-line remote
    EXPECT_EQ(tovik->count("GEM: communications established"), 1u) << tovik->out();
    EXPECT_EQ(tovik->countPrefix("Script error"), 0u) << tovik->out();
}

// The namelists, and process programs kept as files of recipes/ beside the
// document: load inquire, receive, list, send back, delete, each change
// reported by the process program event with its name and status.
TEST_F(Gem, NamelistsAndProcessProgramsAsFiles) {
    online();
    request(1, 21, L(2) + U4(1102) + U4(9999),
            L(2) + L(3) + U4(1102) + A("PreviousProcessState") + A("") + L(3) + U4(9999) + A("") + A(""));
    request(1, 23, L(2) + U4(3025) + U4(9999),
            L(2) + L(3) + U4(3025) + A("ProcessingStateChange") + L(1) + U4(1102) + L(3) + U4(9999) + A("") + L(0));
    reportOn(3041, 200, {1106, 1107});

    request(7, 1, L(2) + A("R1") + U4(4), B(0));
    request(7, 1, L(2) + A("R1") + U4(70000), B(5));     // above maxBytes
    request(7, 1, L(2) + A("../R1") + U4(4), B(3));      // not a plain name
    request(7, 3, L(2) + A("../R1") + Bin("01"), B(1));
    request(7, 3, L(2) + A("R1") + Bin("010203ff"), B(0));
    expectPrimary(6, 11, L(3) + U4(1) + U4(3041) + L(1) + L(2) + U4(200) + L(2) + A("R1") + U1(1), B(0));
    const QString file = tovik->dir.filePath(QStringLiteral("recipes/R1"));
    EXPECT_EQ(tovik::test::readFile(file.toStdString()), std::string("\x01\x02\x03\xff", 4));
    EXPECT_FALSE(QFileInfo::exists(tovik->dir.filePath(QStringLiteral("../R1"))));
    request(7, 1, L(2) + A("R1") + U4(4), B(1));         // already there
    request(7, 19, "", L(1) + A("R1"));
    request(7, 5, A("R1"), L(2) + A("R1") + Bin("010203ff"));
    request(7, 5, A("R2"), L(0));
    request(7, 17, L(2) + A("R1") + A("R2"), B(4));      // R2 unknown: nothing deleted
    EXPECT_TRUE(QFileInfo::exists(file));
    request(7, 17, L(1) + A("R1"), B(0));
    expectPrimary(6, 11, L(3) + U4(2) + U4(3041) + L(1) + L(2) + U4(200) + L(2) + A("R1") + U1(3), B(0));
    EXPECT_FALSE(QFileInfo::exists(file));
    request(7, 19, "", L(0));
    EXPECT_EQ(tovik->countPrefix("Script error"), 0u) << tovik->out();
}

// Control state and processing state changes fire their events: the host's
// S1F15 puts the equipment into host off-line (its event still goes out),
// S1F17 back on-line remote; START changes the processing state, whose
// event carries the previous one.
TEST_F(Gem, ControlAndProcessingStateChangesFireTheirEvents) {
    online();
    reportOn(3025, 300, {1102, 1003});
    request(2, 37, L(2) + kTrue + L(3) + U4(3022) + U4(3024) + U4(3001), B(0));
    // The processing state's event first, then the command's own.
    request(2, 41, L(2) + A("START") + L(0), L(2) + B(0) + L(0));
    expectPrimary(6, 11, L(3) + U4(1) + U4(3025) + L(1) + L(2) + U4(300) + L(2) + A("IDLE") + A("EXECUTING"), B(0));
    expectPrimary(6, 11, L(3) + U4(2) + U4(3001) + L(0), B(0));
    request(1, 15, "", B(0));
    expectPrimary(6, 11, L(3) + U4(3) + U4(3022) + L(0), B(0));
    refused(1, 3, L(0));
    request(1, 17, "", B(0));
    // An S6F12 that does not accept the event is logged; the accepted ones are not.
    expectPrimary(6, 11, L(3) + U4(4) + U4(3024) + L(0), B(1));
    ASSERT_TRUE(tovik->waitLine("S6F11 ControlStateRemote DATAID 4: ACKC6 1")) << tovik->out();
    request(1, 3, L(1) + U4(1002), L(1) + U1(5));
    EXPECT_EQ(tovik->countPrefix("S6F11 "), 1u) << tovik->out();
    EXPECT_EQ(tovik->countPrefix("Script error"), 0u) << tovik->out();
}

// A trace of 5 samples every 200 ms, the refusals of S2F23, and a limit on
// the chamber temperature that the value crosses when equipment.json raises it.
TEST_F(Gem, TraceAndLimitsMonitoring) {
    online();
    request(2, 23, L(5) + U4(7) + A("00000005") + U4(5) + U4(1) + L(1) + U4(1005), B(3)); // 50 ms
    request(2, 23, L(5) + U4(7) + A("00000020") + U4(5) + U4(1) + L(1) + U4(9999), B(4));
    request(2, 23, L(5) + U4(7) + A("00000020") + U4(5) + U4(6) + L(1) + U4(1005), B(5));
    // A trace ended at once by TOTSMP 0: none of its samples may follow.
    request(2, 23, L(5) + U4(8) + A("00000020") + U4(100) + U4(1) + L(1) + U4(1005), B(0));
    request(2, 23, L(5) + U4(8) + A("00000020") + U4(0) + U4(1) + L(0), B(0));
    const auto started = std::chrono::steady_clock::now();
    request(2, 23, L(5) + U4(7) + A("00000020") + U4(5) + U4(1) + L(1) + U4(1005), B(0));
    for (unsigned n = 1; n <= 5; ++n) {
        const auto msg = host.recv(2000);
        ASSERT_TRUE(msg) << "sample " << n << "\n" << tovik->out();
        ASSERT_EQ(msg->substr(0, 12), header(0, 0x86, 1, 0).substr(0, 12));
        const std::string body = msg->substr(20);
        EXPECT_EQ(body.substr(0, 28), L(4) + U4(7) + U4(n)) << n;
        EXPECT_EQ(body.substr(28, 4), "4110"); // STIME, YYYYMMDDhhmmsscc
        EXPECT_EQ(body.substr(64), L(1) + U4(0));
        ASSERT_TRUE(host.send(header(0, 6, 2, 0).substr(0, 12) + msg->substr(12, 8), B(0)));
    }
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
    EXPECT_FALSE(host.recv(500)) << "TOTSMP reached";

    // Limits: LVACK 1 unknown variable, 2 none on it, 4 with LIMITACK 3 upper above the maximum.
    const std::string limit = L(3) + Bin("01") + F4("43960000") + F4("43480000"); // 300 / 200
    request(2, 45, L(2) + U4(1) + L(3) + L(2) + U4(9999) + L(1) + limit + L(2) + U4(1005) + L(1) + limit +
                       L(2) + U4(1004) + L(1) + L(3) + Bin("01") + F4("43fa0000") + F4("43480000"),
            L(2) + B(1) + L(3) + L(3) + U4(9999) + B(1) + L(0) + L(3) + U4(1005) + B(2) + L(0) +
                L(3) + U4(1004) + B(4) + L(2) + Bin("01") + B(3));
    request(2, 45, L(2) + U4(2) + L(1) + L(2) + U4(1004) + L(1) + limit, L(2) + B(0) + L(0));
    request(2, 47, L(1) + U4(1004),
            L(1) + L(2) + U4(1004) + L(4) + A("degC") + F4("00000000") + F4("43c80000") + L(1) + limit);
    reportOn(3031, 400, {1103, 1104, 1105});

    // Into the deadband (250): nothing yet; above the upper one (350): the event.
    const std::string model = readSource("examples/gem/equipment.json");
    const std::string temperature = "\"value\": 180.5";
    for (const char* value : {"250", "350"}) {
        std::string edited = model;
        edited.replace(edited.find(temperature), temperature.size(), std::string("\"value\": ") + value);
        writeFile(tovik->dir.filePath(QStringLiteral("equipment.json")), edited);
        if (value[0] == '2') {
            ASSERT_TRUE(tovik->waitLine("Script loaded: equipment.js", 2)) << tovik->out();
            request(1, 3, L(1) + U4(1004), L(1) + F4("437a0000"));
        }
    }
    const std::string text = A("Chamber temperature above its limit");
    expectPrimary(5, 1, L(3) + B(0x84) + U4(5001) + text, B(0));
    expectPrimary(10, 1, L(2) + B(0) + text, B(0));
    expectPrimary(6, 11, L(3) + U4(1) + U4(3031) + L(1) + L(2) + U4(400) + L(3) + U4(1004) + Bin("01") + U1(0), B(0));
    EXPECT_EQ(tovik->countPrefix("Script error"), 0u) << tovik->out();
}

// Spooling: the host chooses what is kept (S2F43); an alarm and its event
// while the host is away are spooled, the spool-loaded event follows S1F13
// when the host comes back, S6F23 purges, or transmits in order with the
// original DATAIDs and values.
TEST_F(Gem, SpoolingWhileTheHostIsAway) {
    online();
    request(2, 43, L(1) + L(2) + U1(1) + L(0), L(2) + B(1) + L(1) + L(3) + U1(1) + B(1) + L(0));
    request(2, 43, L(1) + L(2) + U1(6) + L(1) + U1(12), L(2) + B(1) + L(1) + L(3) + U1(6) + B(4) + L(1) + U1(12));
    request(2, 43, L(1) + L(2) + U1(7) + L(0), L(2) + B(1) + L(1) + L(3) + U1(7) + B(2) + L(0));
    request(2, 43, L(2) + L(2) + U1(5) + L(0) + L(2) + U1(6) + L(1) + U1(11), L(2) + B(0) + L(0));
    reportOn(3011, 500, {1101, 1004});
    request(2, 35, L(2) + U4(3) + L(1) + L(2) + U4(3012) + L(1) + U4(500), B(0));
    request(2, 37, L(2) + kTrue + L(2) + U4(3012) + U4(3051), B(0));

    const std::string text = A("Chamber temperature above its limit");
    std::size_t loads = 1;
    const auto awayAndBack = [&](const std::string& temperature, uint32_t loadedDataId) {
        host.close();
        ASSERT_TRUE(tovik->waitDisconnects(loads));
        editTemperature(temperature, ++loads);
        ASSERT_TRUE(host.connect(port));
        select();
        expectPrimary(6, 11, L(3) + U4(loadedDataId) + U4(3051) + L(0), B(0));
    };
    awayAndBack("300", 2);
    request(1, 3, L(1) + U4(1007), L(1) + U4(2)); // S5F1 and S6F11; S10F1 was not asked for
    request(6, 23, U1(1), B(0));
    request(6, 23, U1(0), B(2));
    request(1, 3, L(1) + U4(1007), L(1) + U4(0));

    awayAndBack("100", 4);
    request(6, 23, U1(0), B(0));
    expectPrimary(5, 1, L(3) + B(0x04) + U4(5001) + text, B(0));
    expectPrimary(6, 11, L(3) + U4(3) + U4(3012) + L(1) + L(2) + U4(500) + L(2) + U4(5001) + F4("42c80000"), B(0));
    EXPECT_FALSE(host.recv(300));
    EXPECT_EQ(tovik->countPrefix("Script error"), 0u) << tovik->out();
}

// tovik.readJson reads a file of the document's folder and nothing else;
// tovik.files writes, lists and removes only there.
TEST(ScriptReadJson, ReadsOnlyFilesOfTheDocumentsFolder) {
    Settings settings;
    settings.localPort = freePort();
    Tovik tovik(settings, kDocument, true,
                {{QStringLiteral("equipment.js"), R"JS(
tovik.on('S1F1', () => {
    for (const name of ['data.json', 'sub/more.json', '../' + tovik.readJson('data.json').folder + '/data.json',
                        '../outside.json', '/etc/hostname', 'link.json', 'broken.json', 'missing.json']) {
        try {
            tovik.log(`read ${name}: ${JSON.stringify(tovik.readJson(name))}`);
        } catch (e) {
            tovik.log(`refused ${name}: ${e.message.replace(name, 'NAME')}`);
        }
    }
    for (const name of ['new/a/b.bin', '../escape.bin', '/tmp/escape.bin', 'away/escape.bin', 'sub']) {
        try {
            tovik.files.write(name, [1, 255]);
            tovik.log(`wrote ${name}: ${tovik.files.read(name)}`);
        } catch (e) {
            tovik.log(`refused ${name}`);
        }
    }
    tovik.log(`list ${tovik.files.list('new/a')} ${tovik.files.list('away').length} ` +
              `${tovik.files.remove('new/a/b.bin')} ${tovik.files.list('new/a').length}`);
    return "s1f2 <a'done'>";
});
)JS"},
                 {QStringLiteral("sub/more.json"), R"({"n": [1, 2]})"},
                 {QStringLiteral("broken.json"), "{\"a\": "}});
    const QString folder = QFileInfo(tovik.dir.path()).fileName();
    writeFile(tovik.dir.filePath(QStringLiteral("data.json")), "{\"folder\": \"" + folder.toStdString() + "\"}");
    writeFile(tovik.dir.filePath(QStringLiteral("../outside.json")), "{}");
    ASSERT_TRUE(QFile::link(QStringLiteral(TOVIK_SOURCE_DIR "/examples/gem/equipment.json"),
                            tovik.dir.filePath(QStringLiteral("link.json"))));
    ASSERT_TRUE(QFile::link(tovik.dir.filePath(QStringLiteral("..")), tovik.dir.filePath(QStringLiteral("away"))));
    ASSERT_TRUE(tovik.waitLine("HSMS port has been opened successfully.")) << tovik.out();
    RawHost host;
    ASSERT_TRUE(host.connect(settings.localPort));
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 7)));
    ASSERT_TRUE(host.recv());
    QFile::remove(tovik.dir.filePath(QStringLiteral("../outside.json")));

    const std::string data = "{\"folder\":\"" + folder.toStdString() + "\"}";
    for (const std::string& line :
         {"read data.json: " + data, std::string("read sub/more.json: {\"n\":[1,2]}"),
          "read ../" + folder.toStdString() + "/data.json: " + data,
          std::string("refused ../outside.json: tovik.readJson: NAME: not a file in the document's folder"),
          std::string("refused /etc/hostname: tovik.readJson: NAME: not a file in the document's folder"),
          std::string("refused link.json: tovik.readJson: NAME: not a file in the document's folder"),
          std::string("refused missing.json: tovik.readJson: NAME: not a file in the document's folder")})
        EXPECT_TRUE(tovik.waitLine(line)) << line << "\n" << tovik.out();
    EXPECT_EQ(tovik.countPrefix("refused broken.json: tovik.readJson: NAME: "), 1u) << tovik.out();
    EXPECT_EQ(tovik.countPrefix("read "), 3u);
    for (const char* line : {"wrote new/a/b.bin: 1,255", "refused ../escape.bin", "refused /tmp/escape.bin",
                             "refused away/escape.bin", "refused sub", "list b.bin 0 true 0"})
        EXPECT_EQ(tovik.count(line), 1u) << line << "\n" << tovik.out();
    EXPECT_FALSE(QFileInfo::exists(tovik.dir.filePath(QStringLiteral("../escape.bin"))));

    // A file the script read is watched as the script is: a change loads
    // the script again, which then reads the new content.
    const std::string changed = "{\"folder\":\"" + folder.toStdString() + "\",\"v\":2}";
    writeFile(tovik.dir.filePath(QStringLiteral("data.json")), changed);
    ASSERT_TRUE(tovik.waitLine("Script loaded: equipment.js", 2)) << tovik.out();
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 8)));
    ASSERT_TRUE(host.recv());
    EXPECT_TRUE(tovik.waitLine("read data.json: " + changed)) << tovik.out();
}

// tovik.onSelect hears the link selected after the connection, once more
// when the script is loaded again, and no longer selected when a
// Separate.req ends it.
TEST(ScriptOnSelect, FollowsTheHsmsLinkSelection) {
    Settings settings;
    settings.localPort = freePort();
    Tovik tovik(settings, kDocument, true,
                {{QStringLiteral("equipment.js"), R"JS(
tovik.onConnection((address, port, connected) => tovik.log(`connection ${connected}`));
tovik.onSelect((selected) => tovik.log(`selected ${selected}`));
tovik.onSelect((selected) => { if (selected) tovik.send("s1f1"); });
)JS"}});
    ASSERT_TRUE(tovik.waitLine("HSMS port has been opened successfully.")) << tovik.out();
    RawHost host;
    ASSERT_TRUE(host.connect(settings.localPort));
    ASSERT_TRUE(tovik.waitLine("connection true"));
    EXPECT_EQ(tovik.count("selected true"), 0u);
    ASSERT_TRUE(host.send(header(0xffff, 0, 0, 5, 1)));
    EXPECT_EQ(host.recv(), header(0xffff, 0, 0, 5, 2));
    const auto s1f1 = host.recv(); // sent from the handler, after the Select.rsp
    ASSERT_TRUE(s1f1);
    EXPECT_EQ(s1f1->substr(0, 12), "000001010000");
    ASSERT_TRUE(tovik.waitLine("selected true"));
    // A script loaded while the link is selected hears so at once.
    writeFile(tovik.dir.filePath(QStringLiteral("equipment.js")),
              "tovik.onSelect((selected) => tovik.log(`again ${selected}`));\n");
    ASSERT_TRUE(tovik.waitLine("again true")) << tovik.out();
    ASSERT_TRUE(host.send(header(0xffff, 0, 0, 6, 9)));
    ASSERT_TRUE(host.waitClosed());
    ASSERT_TRUE(tovik.waitLine("again false")) << tovik.out();
    EXPECT_EQ(tovik.count("again true"), 1u);
    EXPECT_EQ(tovik.count("selected true"), 1u);
    EXPECT_EQ(tovik.countPrefix("Script error"), 0u);
}
