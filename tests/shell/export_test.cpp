// File > Export Messages in the window, with a raw host exchanging messages
// over a real socket: each file read back by an outside reader (the codec
// for SML, the control API's own answer for JSON lines, tshark for pcapng).
#include "shell_fixture.h"

#include "../common/hsms_peer.h"
#include "../common/http_client.h"
#include "../common/tshark.h"
#include "CHApiServer.h"
#include "CHMessageJournal.h"
#include "CMainFrame.h"
#include "CVeltSecsII.h"
#include "hex.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <thread>

namespace tovik::test {
namespace {

using Export = ShellFixture;
using hsmstest::header;

// The event loop turns while a blocking request runs beside it.
httptest::Response getPumping(int port, const std::string& path) {
    httptest::Response r;
    bool done = false;
    std::thread t([&] {
        r = httptest::request(port, "GET", path);
        done = true;
    });
    while (!done)
        pumpOnce();
    t.join();
    return r;
}

TEST_F(Export, TheJournalAsSmlJsonLinesAndPcapngReadBack) {
    const int port = writeLine();
    auto app = start(doc(), true);
    CMainFrame& f = *app->Frame();
    CHApiServer api(app->View(), nullptr);
    QString error;
    ASSERT_TRUE(api.Start(QHostAddress::LocalHost, 0, &error)) << error.toStdString();

    hsmstest::RawHost host(pumpOnce);
    ASSERT_TRUE(host.connect(port));
    ASSERT_TRUE(host.send(header(0xffff, 0, 0, 1, 1)));
    ASSERT_TRUE(host.recv());
    // A definition's reply, the fallback, and a body of many formats with
    // texts that need escapes in SML and JSON.
    ASSERT_TRUE(host.send(header(7, 0x81, 1, 2)));
    ASSERT_TRUE(host.recv());
    ASSERT_TRUE(host.send(header(7, 0x82, 13, 3), "0100"));
    ASSERT_TRUE(host.recv());
    ASSERT_TRUE(host.send(header(7, 0x86, 11, 4),
                          "0105" "4106" "61275c220a62" "b10400000007" "6108fffffffffffffffb" "91043fc00000" "250101"));
    ASSERT_TRUE(host.recv());

    const httptest::Response r = getPumping(api.Port(), "/api/messages");
    ASSERT_EQ(r.status, 200);
    const QJsonArray fromApi = QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).array();
    ASSERT_EQ(fromApi.size(), 8);
    const std::vector<const CHJournalEntry*> entries = app->View().Journal().Find(0, {});

    // JSON lines: the API's entries, field by field.
    ASSERT_TRUE(f.ExportMessagesTo(path("m.jsonl"), ExportFormat::JsonLines));
    const QList<QByteArray> lines = readAll(path("m.jsonl")).split('\n');
    ASSERT_EQ(lines.size(), fromApi.size() + 1);
    EXPECT_TRUE(lines.back().isEmpty());
    for (qsizetype i = 0; i < fromApi.size(); ++i) {
        const QJsonObject mine = QJsonDocument::fromJson(lines[i]).object();
        const QJsonObject theirs = fromApi[i].toObject();
        EXPECT_EQ(mine.keys(), theirs.keys()) << i;
        for (const QString& key : theirs.keys())
            EXPECT_EQ(mine[key], theirs[key]) << i << ' ' << key.toStdString();
    }

    // SML: each data message reads back to its bytes; control ones are notes.
    ASSERT_TRUE(f.ExportMessagesTo(path("m.sml"), ExportFormat::Sml));
    const QByteArray sml = readAll(path("m.sml"));
    QList<QByteArray> blocks;
    for (qsizetype at = 0, end; (end = sml.indexOf("\n\n", at)) >= 0; at = end + 2)
        blocks << sml.mid(at, end - at);
    ASSERT_EQ(blocks.size(), qsizetype(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const CHJournalEntry& e = *entries[i];
        const QByteArray& block = blocks[qsizetype(i)];
        const qsizetype eol = block.indexOf('\n');
        EXPECT_TRUE(block.startsWith("// ") && block.split('\n').front().contains(e.direction ? " out " : " in ")) << i;
        if (e.sType() != 0) {
            EXPECT_EQ(eol, -1) << block.toStdString();
            continue;
        }
        CVeltSecsII codec;
        codec.SetSmlText(block.mid(eol + 1).toStdString());
        // S, F, W-bit and body; SML carries no header values.
        const std::string hex = codec.GetHexMessage(), theirs = toHex(e.bytes);
        EXPECT_EQ(hex.substr(4, 4) + hex.substr(20), theirs.substr(4, 4) + theirs.substr(20)) << block.toStdString();
    }

    // pcapng: every message, in order, decoded as HSMS with sound TCP.
    const QString pcap = path("m.pcapng");
    ASSERT_TRUE(f.ExportMessagesTo(pcap, ExportFormat::Pcapng));
    if (const auto bad = tshark(pcap, {port}, QStringLiteral("_ws.malformed || tcp.analysis.flags"), {QStringLiteral("frame.number")})) {
        EXPECT_EQ(*bad, QStringList());
        // tshark leaves the stream and function of control messages empty.
        QString expected;
        for (const CHJournalEntry* e : entries)
            expected += QStringLiteral("%1\t%2\t%3\t%4\t%5\n")
                            .arg(e->sType())
                            .arg(e->sType() ? QString() : QString::number(e->stream()),
                                 e->sType() ? QString() : QString::number(e->function()))
                            .arg(e->systemBytes())
                            .arg(e->direction == CHJournalEntry::In ? port : host.localPort());
        const auto packets = tshark(pcap, {port}, QStringLiteral("hsms"),
                                    {QStringLiteral("hsms.header.stype"), QStringLiteral("hsms.header.stream"),
                                     QStringLiteral("hsms.header.function"), QStringLiteral("hsms.header.system"),
                                     QStringLiteral("tcp.dstport")});
        EXPECT_EQ(packets->join(QLatin1Char('\n')) + QLatin1Char('\n'), expected);
    } else {
        std::printf("tshark is not installed: the capture is not decoded\n");
    }

    // The provider chooses the rows; an unwritable path is a box.
    f.SetMessageProvider([&] { return std::vector<const CHJournalEntry*>{entries[3]}; });
    ASSERT_TRUE(f.ExportMessagesTo(path("one.jsonl"), ExportFormat::JsonLines));
    EXPECT_EQ(QJsonDocument::fromJson(readAll(path("one.jsonl"))).object(), fromApi[3].toObject());
    EXPECT_FALSE(f.ExportMessagesTo(path("no/such/dir/x.sml"), ExportFormat::Sml));
    EXPECT_EQ(boxes.size(), 1);
}

} // namespace
} // namespace tovik::test
