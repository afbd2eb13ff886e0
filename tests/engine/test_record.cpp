// tovik --record between a raw host and a raw equipment of our own, then the
// recording replayed by tovik --headless on its own files.
#include "harness.h"
#include "../common/tshark.h"

#include "MsgFileFormat.h"

#include <gtest/gtest.h>

#include <csignal>

#include <atomic>
#include <map>
#include <mutex>
#include <set>

using namespace harness;
using tovik::test::tshark;

namespace {

// Bodies encoded by hand: L n = 01 n, A = 41 len, U4 = b1 04, B = 21 01.
const unsigned kDevice = 3; // the host's device id, kept by the replay's settings
const std::string kSvid1 = "0101b10400000001";
const std::string kSvid2 = "0101b10400000002";
const std::string kSvid9 = "0101b10400000009";

struct Request {
    unsigned stream, function;
    std::string body;
};
// Ten S,F; S1F3 asked three times, by two bodies, the less frequent first.
const std::vector<Request> kRequests = {
    {1, 1, ""},          {1, 3, kSvid2},       {1, 3, kSvid1},         {1, 3, kSvid1},
    {1, 13, "0100"},     {1, 11, "0100"},      {2, 13, "0100"},        {2, 17, ""},
    {2, 29, "0100"},     {5, 5, "0100"},       {7, 19, ""},            {2, 41, "010241055354415254" "0100"},
};

// What the equipment answers: by S,F and, for S1F3, by the SVID asked for.
std::string equipmentReply(unsigned stream, unsigned function, const std::string& body) {
    if (stream == 1 && function == 3)
        return body == kSvid2 ? "0101b104000000c8" : "0101b10400000064";
    static const std::map<std::pair<unsigned, unsigned>, std::string> replies = {
        {{1, 1}, "0102" "41044d444c4e" "4103312e30"},
        {{1, 13}, "0102" "210100" "0100"},
        {{1, 11}, "0101" "0103" "b10400000001" "4103" "544d50" "41014b"},
        {{2, 13}, "0100"},
        {{2, 17}, "410e" "3230323631323037303230303030"},
        {{2, 29}, "0100"},
        {{5, 5}, "0100"},
        {{7, 19}, "0101" "4104" "52435031"},
        {{2, 41}, "0102" "210100" "0100"},
    };
    const auto it = replies.find({stream, function});
    return it == replies.end() ? "" : it->second;
}
const std::string kS6F11 = "0103" "b10400000007" "b10400000bb9" "0100"; // DATAID 7, CEID 3001
const std::string kS5F1 = "0103" "210104" "b10400000005" "4104" "484f4f54";  // ALCD 4, ALID 5

// An equipment from the HSMS standard on raw sockets: answers Select.req
// and the table above; after S2F41 it sends S6F11 and S5F1 on its own.
class RawEquipment {
public:
    explicit RawEquipment(int port = 0) : m_listener(port), m_thread([this] { run(); }) {}
    ~RawEquipment() {
        m_stop = true;
        m_thread.join();
    }
    int port() const { return m_listener.port(); }
    bool selected() const { return m_selected; }
    // An S6F11 of its own, sent by the equipment's thread.
    void sendEvent() { ++m_eventsAsked; }

private:
    void run() {
        int fd = -1;
        while (fd < 0 && !m_stop)
            fd = m_listener.accept(200);
        if (fd < 0)
            return;
        m_link.adopt(fd);
        unsigned eventsSent = 0;
        while (!m_stop) {
            for (; eventsSent < m_eventsAsked; ++eventsSent)
                m_link.send(header(0, 0x86, 11, 0x00f00000 + eventsSent), kS6F11);
            const std::optional<std::string> m = m_link.recv(20);
            if (m)
                handle(*m);
        }
    }
    void handle(const std::string& m) {
        const Bytes b = bytesOf(m.substr(0, 20));
        const std::string system = m.substr(12, 8);
        if (b[0] == 0xff) {
            if (b[5] == 1) {
                m_link.send("ffff00000002" + system);
                m_selected = true;
            } else if (b[5] == 5) {
                m_link.send("ffff00000006" + system);
            }
            return;
        }
        const unsigned stream = b[2] & 0x7f, function = b[3];
        if (!(function & 1) || !(b[2] & 0x80))
            return;
        m_link.send(m.substr(0, 4) + hexByte(stream) + hexByte(function + 1) + "0000" + system,
                    equipmentReply(stream, function, m.substr(20)));
        if (stream == 2 && function == 41) {
            m_link.send(header(0, 0x86, 11, 0x00e00001), kS6F11);
            m_link.send(header(0, 0x85, 1, 0x00e00002), kS5F1);
        }
    }
    static std::string hexByte(unsigned v) {
        char buf[3];
        std::snprintf(buf, sizeof buf, "%02x", v & 0xff);
        return buf;
    }

    RawListener m_listener;
    RawHost m_link;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_selected{false};
    std::atomic<unsigned> m_eventsAsked{0};
    std::thread m_thread;
};

std::string readText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

// Sends every request with its own system bytes; the reply bodies in order.
std::vector<std::string> ask(RawHost& host, unsigned systemBase) {
    std::vector<std::string> bodies;
    unsigned system = systemBase;
    for (const Request& r : kRequests) {
        EXPECT_TRUE(host.send(header(kDevice, 0x80 | r.stream, r.function, ++system), r.body));
        const std::optional<std::string> reply = host.recv();
        if (!reply) {
            ADD_FAILURE() << "no reply to S" << r.stream << "F" << r.function;
            bodies.emplace_back();
            continue;
        }
        EXPECT_EQ(reply->substr(0, 20), header(kDevice, r.stream, r.function + 1, system)) << *reply;
        bodies.push_back(reply->substr(20));
    }
    return bodies;
}

// The values tshark printed, commas and line ends alike separating them.
std::vector<std::string> values(const QStringList& lines) {
    std::vector<std::string> out;
    for (const QString& line : lines)
        for (const QString& v : line.split(QLatin1Char(','), Qt::SkipEmptyParts))
            out.push_back(v.toStdString());
    return out;
}

} // namespace

TEST(Record, RelaysBothWaysWritesTheFilesAndTheReplayAnswersAsTheEquipmentDid) {
    RawEquipment equipment;
    QTemporaryDir parent;
    const QString dir = parent.filePath(QStringLiteral("line7"));
    Settings s;
    s.localPort = freePort();
    s.t3 = 30000;
    std::vector<std::string> recorded;
    {
        Tovik recorder(s, kDocument, true, {},
                       {QStringLiteral("--record"), dir, QStringLiteral("--upstream"),
                        QStringLiteral("127.0.0.1:%1").arg(equipment.port())});
        ASSERT_TRUE(recorder.waitLine("HSMS port has been opened successfully.")) << recorder.err();
        // The equipment's Select.rsp reached Tovik before the host speaks.
        ASSERT_TRUE(Tovik::waitFor([&] { return recorder.countPrefix("ffff00000002") >= 1; })) << recorder.out();
        RawHost host;
        ASSERT_TRUE(host.connect(s.localPort));
        ASSERT_TRUE(host.send(header(0xffff, 0, 0, 0x77, 1)));
        EXPECT_EQ(host.recv(), header(0xffff, 0, 0, 0x77, 2)); // Tovik's own session, not relayed
        recorded = ask(host, 0x100);
        // The equipment's own messages arrive with its system bytes; the host answers them.
        EXPECT_EQ(host.recv(), header(0, 0x86, 11, 0x00e00001) + kS6F11);
        EXPECT_EQ(host.recv(), header(0, 0x85, 1, 0x00e00002) + kS5F1);
        ASSERT_TRUE(host.send(header(0, 6, 12, 0x00e00001), "210100"));
        ASSERT_TRUE(host.send(header(0, 5, 2, 0x00e00002), "210100"));
        ASSERT_TRUE(Tovik::waitFor([&] { return recorder.countPrefix("00000502") >= 2; })) << recorder.out();
        EXPECT_EQ(recorder.terminate(), 0);
        EXPECT_NE(recorder.out().find("Recording written to"), std::string::npos) << recorder.out();
    }
    ASSERT_EQ(recorded.size(), kRequests.size());
    for (std::size_t i = 0; i < kRequests.size(); ++i)
        EXPECT_EQ(recorded[i], equipmentReply(kRequests[i].stream, kRequests[i].function, kRequests[i].body));

    // The journal: every data message both ways, in order.
    const std::string journal = readText(dir + QStringLiteral("/line7.jsonl"));
    EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), long(2 * kRequests.size() + 4));
    EXPECT_NE(journal.find("\"direction\":\"equipment->host\",\"hex\":\"000086"), std::string::npos);
    EXPECT_NE(journal.find("\"S\":6"), std::string::npos);

    // The document: the replies, the most frequent S1F4 first, and the equipment's own messages.
    tovik::CHOneMsgList defs;
    ASSERT_TRUE(tovik::LoadMsgFileText(readText(dir + QStringLiteral("/line7.tvkm")), defs).parse.ok);
    std::vector<std::string> names;
    for (const auto& d : defs)
        names.push_back(d->m_strName);
    const std::vector<std::string> expected = {"S1F2", "S1F4", "S1F4 #2", "S1F12", "S1F14", "S2F14", "S2F18",
                                               "S2F30", "S2F42", "S5F6", "S7F20", "S5F1 ALID 5", "S6F11 CEID 3001"};
    EXPECT_EQ(std::multiset<std::string>(names.begin(), names.end()),
              std::multiset<std::string>(expected.begin(), expected.end()));
    const auto first = std::find(names.begin(), names.end(), "S1F4");
    const auto second = std::find(names.begin(), names.end(), "S1F4 #2");
    EXPECT_LT(first, second);
    if (first != names.end()) {
        const std::string& text = defs[first - names.begin()]->m_strText;
        EXPECT_NE(text.find("<u4 100>"), std::string::npos) << text;
    }
    EXPECT_NE(readText(dir + QStringLiteral("/line7.js")).find("const SEND_RECORDED_PRIMARIES = false;"),
              std::string::npos);
    const std::string ini = readText(dir + QStringLiteral("/line7.ini"));
    EXPECT_NE(ini.find("LocalPortNumber=" + std::to_string(s.localPort)), std::string::npos) << ini;
    for (const char* line : {"Server=1", "DeviceID=3", "T3=30000", "IPAddress=\n"})
        EXPECT_NE(ini.find(line), std::string::npos) << line << ini;

    // The capture: both links, every data message decoded, nothing malformed
    // and no TCP sequence trouble.
    const QString pcap = dir + QStringLiteral("/line7.pcapng");
    if (const auto bad = tshark(pcap, {s.localPort, equipment.port()}, QStringLiteral("_ws.malformed || tcp.analysis.flags"),
                                {QStringLiteral("frame.number")})) {
        EXPECT_EQ(*bad, QStringList());
        const auto data = tshark(pcap, {s.localPort, equipment.port()}, QStringLiteral("hsms"),
                                 {QStringLiteral("hsms.header.stype")});
        const std::vector<std::string> stypes = values(*data);
        EXPECT_EQ(std::count(stypes.begin(), stypes.end(), "0"), long(2 * (2 * kRequests.size() + 4)))
            << data->join(QLatin1Char('\n')).toStdString();
        // The host's S1F1 goes to Tovik's port, then to the equipment's.
        const auto s1f1 = tshark(pcap, {s.localPort, equipment.port()},
                                 QStringLiteral("hsms.header.stream == 1 && hsms.header.function == 1"),
                                 {QStringLiteral("tcp.dstport")});
        EXPECT_EQ(values(*s1f1), (std::vector<std::string>{std::to_string(s.localPort), std::to_string(equipment.port())}));
    } else {
        std::printf("tshark is not installed: the capture is not decoded\n");
        EXPECT_GT(QFileInfo(pcap).size(), 1000);
    }

    // A second recording into the same folder stops at once without --force.
    {
        Tovik again(s, kDocument, true, {},
                    {QStringLiteral("--record"), dir, QStringLiteral("--upstream"), QStringLiteral("127.0.0.1:1")});
        EXPECT_EQ(again.exitCode(), 1);
        EXPECT_NE(again.err().find("line7.tvkm"), std::string::npos) << again.err();
    }

    // The replay: the same requests with other system bytes get the same bodies.
    QProcess replay;
    replay.setStandardOutputFile(parent.filePath(QStringLiteral("replay.txt")));
    replay.setStandardErrorFile(parent.filePath(QStringLiteral("replay.err")));
    replay.start(QStringLiteral(TOVIK_EXE), {QStringLiteral("--headless"), dir + QStringLiteral("/line7.tvkm")});
    RawHost host;
    ASSERT_TRUE(host.connect(s.localPort)) << readText(parent.filePath(QStringLiteral("replay.err")));
    ASSERT_TRUE(Tovik::waitFor([&] {
        return readText(parent.filePath(QStringLiteral("replay.txt"))).find("Script loaded: line7.js") !=
               std::string::npos;
    })) << readText(parent.filePath(QStringLiteral("replay.txt")));
    EXPECT_EQ(ask(host, 0x5000), recorded);
    // A body never seen gets its S,F's most frequent reply.
    ASSERT_TRUE(host.send(header(kDevice, 0x81, 3, 0x6000), kSvid9));
    EXPECT_EQ(host.recv(), header(kDevice, 1, 4, 0x6000) + "0101b10400000064");
    replay.terminate();
    replay.waitForFinished();
}

// The equipment missing at first: the host's messages get nothing, the log
// says so once, and the recording goes on when the equipment comes. SIGHUP
// writes the files and goes on. The host away: what the equipment sends is
// recorded (the log says so once), and a host that comes back is relayed to
// again. The equipment gone again: told once more. --replay-from makes the
// files again from the journal.
TEST(Record, OutageIsToldOnceThenRelayResumesAndReplayFromRemakesTheFiles) {
    const int equipmentPort = freePort();
    QTemporaryDir parent;
    const QString dir = parent.filePath(QStringLiteral("late"));
    Settings s;
    s.localPort = freePort();
    s.timeOutExtra = "T5=100\n";
    Tovik recorder(s, kDocument, true, {},
                   {QStringLiteral("--record"), dir, QStringLiteral("--upstream"),
                    QStringLiteral("localhost:%1").arg(equipmentPort)});
    ASSERT_TRUE(recorder.waitLine("HSMS port has been opened successfully.")) << recorder.err();
    {
        RawHost host;
        ASSERT_TRUE(host.connect(s.localPort));
        ASSERT_TRUE(host.send(header(0, 0x81, 1, 0x11)));
        EXPECT_FALSE(host.recv(600)); // several attempts meanwhile
    }
    EXPECT_EQ(recorder.countPrefix("Recording: the equipment"), 1u) << recorder.out();

    auto equipment = std::make_unique<RawEquipment>(equipmentPort);
    ASSERT_TRUE(recorder.waitLine("Recording: the equipment is back; relaying again.")) << recorder.out();
    {
        RawHost host;
        ASSERT_TRUE(host.connect(s.localPort));
        ASSERT_TRUE(host.send(header(0, 0x81, 1, 0x12)));
        EXPECT_EQ(host.recv(), header(0, 1, 2, 0x12) + equipmentReply(1, 1, ""));
        EXPECT_EQ(recorder.countPrefix("Connected with 127.0.0.1(" + std::to_string(equipmentPort) + ") (equipment)"), 1u);

        ::kill(static_cast<pid_t>(recorder.proc.processId()), SIGHUP);
        ASSERT_TRUE(recorder.waitLine("Recording written to " + dir.toStdString() + " (2 messages).")) << recorder.out();
        const std::string tvkm = readText(dir + QStringLiteral("/late.tvkm"));
        EXPECT_NE(tvkm.find("'S1F2'"), std::string::npos) << tvkm;
    }
    ASSERT_TRUE(recorder.waitDisconnects(2)) << recorder.out(); // both hosts gone
    equipment->sendEvent();
    equipment->sendEvent();
    ASSERT_TRUE(Tovik::waitFor([&] { return recorder.countPrefix("0000860b000000f0000") == 2; })) << recorder.out();
    EXPECT_EQ(recorder.countPrefix("Recording: no host is connected"), 1u) << recorder.out();
    RawHost host;
    ASSERT_TRUE(host.connect(s.localPort));
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 0x13)));
    EXPECT_EQ(host.recv(), header(0, 1, 2, 0x13) + equipmentReply(1, 1, ""));
    equipment->sendEvent();
    EXPECT_EQ(host.recv(), header(0, 0x86, 11, 0x00f00002) + kS6F11);

    equipment.reset();
    ASSERT_TRUE(recorder.waitLine("Disconnected with 127.0.0.1(" + std::to_string(equipmentPort) + ") (equipment)"));
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 0x14)));
    EXPECT_FALSE(host.recv(400)); // several attempts meanwhile
    EXPECT_EQ(recorder.countPrefix("Recording: the equipment at"), 2u) << recorder.out();
    EXPECT_EQ(recorder.terminate(), 0);
    EXPECT_TRUE(recorder.waitLine("Recording written to " + dir.toStdString() + " (7 messages)."));

    // The journal alone makes the same document again, only with --force.
    QFile::remove(dir + QStringLiteral("/late.tvkm"));
    QFile::copy(dir + QStringLiteral("/late.jsonl"), parent.filePath(QStringLiteral("edited.jsonl")));
    QProcess replay;
    replay.start(QStringLiteral(TOVIK_EXE), {QStringLiteral("--replay-from"), parent.filePath(QStringLiteral("edited.jsonl")), dir});
    ASSERT_TRUE(replay.waitForFinished(20000));
    EXPECT_EQ(replay.exitCode(), 1) << "late.js and late.ini exist";
    replay.start(QStringLiteral(TOVIK_EXE), {QStringLiteral("--replay-from"), parent.filePath(QStringLiteral("edited.jsonl")), dir,
                                             QStringLiteral("--force")});
    ASSERT_TRUE(replay.waitForFinished(20000));
    EXPECT_EQ(replay.exitCode(), 0) << replay.readAllStandardError().toStdString();
    const std::string again = readText(dir + QStringLiteral("/late.tvkm"));
    EXPECT_NE(again.find("'S1F2'"), std::string::npos) << again;
    EXPECT_NE(again.find("Reply to S1F1, seen 2 time(s)"), std::string::npos) << again;
    EXPECT_NE(again.find("Sent by the equipment, seen 3 time(s)"), std::string::npos) << again;
}
