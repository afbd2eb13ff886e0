// The control API of the running program, over real sockets: HTTP from the
// test, a raw host on the HSMS port at the same time.
#include "../engine/harness.h"
#include "http_client.h"

#include "CHApiJson.h"
#include "CHApiServer.h"
#include "CTovikarDoc.h"
#include "CTovikarView.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>

using namespace harness;

namespace {

QJsonValue json(const httptest::Response& r) {
    const QJsonDocument d = QJsonDocument::fromJson(QByteArray::fromStdString(r.body));
    return d.isArray() ? QJsonValue(d.array()) : QJsonValue(d.object());
}

struct Api : ::testing::Test {
    Settings settings;
    std::unique_ptr<Tovik> tovik;
    RawHost host;
    int api = 0;

    void start(const QStringList& options = {QStringLiteral("--api"), QStringLiteral("0")},
               const Tovik::Files& files = {}) {
        settings.localPort = freePort();
        tovik = std::make_unique<Tovik>(settings, kDocument, true, files, options);
        const std::string prefix = "API listening on 127.0.0.1:";
        ASSERT_TRUE(Tovik::waitFor([&] { return tovik->countPrefix(prefix) == 1; })) << tovik->err();
        for (const auto& l : tovik->lines())
            if (l.rfind(prefix, 0) == 0)
                api = std::stoi(l.substr(prefix.size()));
        ASSERT_TRUE(tovik->waitLine("HSMS port has been opened successfully."));
        ASSERT_TRUE(host.connect(settings.localPort));
        ASSERT_TRUE(host.send(header(0xffff, 0, 0, 0x1001, 1)));
        ASSERT_EQ(host.recv(), header(0xffff, 0, 0, 0x1001, 2));
    }
    httptest::Response get(const std::string& path, const std::string& headers = {}) {
        return httptest::request(api, "GET", path, {}, headers);
    }
    httptest::Response post(const std::string& path, const std::string& body) {
        return httptest::request(api, "POST", path, body);
    }
    QJsonArray messages(const std::string& query = {}) {
        const auto r = get("/api/messages" + query);
        EXPECT_EQ(r.status, 200) << r.body;
        return json(r).toArray();
    }
};

} // namespace

TEST_F(Api, JournalHoldsBothWaysInOrderWithFiltersCountsWaitsAndDelete) {
    start();
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 4)));
    ASSERT_EQ(host.recv(), header(0, 0x01, 2, 4) + kS1F2Body);

    EXPECT_EQ(messages("?dir=out").size(), 2); // read first: the later reads must not mix them up
    const QJsonArray all = messages();
    ASSERT_EQ(all.size(), 4) << QJsonDocument(all).toJson().toStdString();
    const char* dirs[] = {"in", "out", "in", "out"};
    const int stypes[] = {1, 2, 0, 0};
    for (int i = 0; i < 4; ++i) {
        const QJsonObject e = all[i].toObject();
        EXPECT_EQ(e[QStringLiteral("direction")].toString().toStdString(), dirs[i]) << i;
        EXPECT_EQ(e[QStringLiteral("sType")].toInt(), stypes[i]) << i;
        EXPECT_EQ(e[QStringLiteral("port")].toInt(), 1);
        if (i) {
            EXPECT_GT(e[QStringLiteral("id")].toInteger(), all[i - 1].toObject()[QStringLiteral("id")].toInteger());
        }
    }
    const QJsonObject primary = all[2].toObject();
    EXPECT_EQ(primary[QStringLiteral("hex")].toString().toStdString(), header(0, 0x81, 1, 4));
    EXPECT_EQ(primary[QStringLiteral("peer")].toString().toStdString(), "127.0.0.1:" + std::to_string(host.localPort()));
    EXPECT_TRUE(primary[QStringLiteral("w")].toBool());
    EXPECT_EQ(primary[QStringLiteral("systemBytes")].toInt(), 4);
    EXPECT_TRUE(primary[QStringLiteral("time")].toString().endsWith(QLatin1Char('Z')));
    const QJsonObject reply = all[3].toObject();
    EXPECT_EQ(reply[QStringLiteral("hex")].toString().toStdString(), header(0, 0x01, 2, 4) + kS1F2Body);
    const QJsonObject body = reply[QStringLiteral("body")].toObject();
    EXPECT_EQ(body[QStringLiteral("type")].toString(), QStringLiteral("L"));
    EXPECT_EQ(body[QStringLiteral("items")].toArray()[0].toObject()[QStringLiteral("value")].toString(), QStringLiteral("EQ"));
    EXPECT_TRUE(reply[QStringLiteral("sml")].toString().contains(QStringLiteral("EQ")));

    // Filters: the patterns leave control messages out; since, limit.
    EXPECT_EQ(messages("?sf=S1F*&dir=out").size(), 1);
    EXPECT_EQ(messages("?sf=s%2Af%2A").size(), 2); // as URL encoders write it
    EXPECT_EQ(messages("?dir=in&port=1").size(), 2);
    EXPECT_EQ(messages("?port=0").size(), 0);
    const qint64 second = all[1].toObject()[QStringLiteral("id")].toInteger();
    const QJsonArray after = messages("?since=" + std::to_string(second) + "&limit=1");
    ASSERT_EQ(after.size(), 1);
    EXPECT_EQ(after[0].toObject()[QStringLiteral("id")].toInteger(), all[2].toObject()[QStringLiteral("id")].toInteger());
    EXPECT_EQ(json(get("/api/messages/count?sf=S1F2")).toObject()[QStringLiteral("count")].toInt(), 1);
    EXPECT_EQ(get("/api/messages?sf=S1").status, 400);
    EXPECT_EQ(get("/api/messages?dir=up").status, 400);

    // A wait answered by a message that arrives after it began.
    const std::string last = std::to_string(all[3].toObject()[QStringLiteral("id")].toInteger());
    httptest::Call wait(api, "GET", "/api/messages/wait?sf=S1F3&dir=in&since=" + last + "&timeout=8000");
    EXPECT_EQ(wait.finish(300).status, 0);
    ASSERT_TRUE(host.send(header(0, 0x81, 3, 5)));
    const auto waited = wait.finish();
    ASSERT_EQ(waited.status, 200) << waited.body;
    EXPECT_EQ(json(waited).toObject()[QStringLiteral("systemBytes")].toInt(), 5);
    ASSERT_TRUE(host.recv()); // the automatic reply
    // One already there answers at once; none within the timeout is 504.
    EXPECT_EQ(get("/api/messages/wait?sf=S1F1").status, 200);
    EXPECT_EQ(get("/api/messages/wait?sf=S7F1&timeout=200").status, 504);

    const QJsonObject status = json(get("/api/status")).toObject();
    const QJsonObject hsms = status[QStringLiteral("ports")].toObject()[QStringLiteral("hsms")].toObject();
    EXPECT_TRUE(hsms[QStringLiteral("selected")].toBool());
    ASSERT_EQ(hsms[QStringLiteral("hosts")].toArray().size(), 1);
    EXPECT_EQ(hsms[QStringLiteral("hosts")].toArray()[0].toObject()[QStringLiteral("port")].toInt(), host.localPort());
    const QJsonObject counters = status[QStringLiteral("counters")].toObject();
    EXPECT_EQ(counters[QStringLiteral("messagesIn")].toInt(), 3);
    EXPECT_EQ(counters[QStringLiteral("messagesOut")].toInt(), 3);
    EXPECT_EQ(counters[QStringLiteral("repliesSent")].toInt(), 2);

    EXPECT_EQ(httptest::request(api, "DELETE", "/api/messages").status, 200);
    EXPECT_EQ(json(get("/api/messages/count")).toObject()[QStringLiteral("count")].toInt(), 0);
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 6)));
    ASSERT_TRUE(host.recv());
    const QJsonArray fresh = messages();
    ASSERT_EQ(fresh.size(), 2);
    EXPECT_GT(fresh[0].toObject()[QStringLiteral("id")].toInteger(), all[3].toObject()[QStringLiteral("id")].toInteger());
}

TEST_F(Api, SendsByDefinitionOrSmlAndWaitsForTheReplyOrT3) {
    settings.t3 = 1000;
    start();
    {
        httptest::Call send(api, "POST", "/api/send", R"({"definition": "S1F1 Are You There", "wait": true})");
        const auto sent = host.recv();
        ASSERT_TRUE(sent);
        ASSERT_EQ(sent->substr(4, 4), "8101");
        const unsigned system = std::stoul(sent->substr(12, 8), nullptr, 16);
        EXPECT_EQ(send.finish(300).status, 0);
        ASSERT_TRUE(host.send(header(0, 0x01, 2, system), "0100"));
        const auto r = send.finish();
        ASSERT_EQ(r.status, 200) << r.body;
        const QJsonObject reply = json(r).toObject();
        EXPECT_EQ(reply[QStringLiteral("direction")].toString(), QStringLiteral("in"));
        EXPECT_EQ(reply[QStringLiteral("f")].toInt(), 2);
        EXPECT_EQ(reply[QStringLiteral("systemBytes")].toInteger(), system);
    }
    {
        // No reply: T3 ends it with 504 and S9F9 naming the primary goes to the host.
        httptest::Call send(api, "POST", "/api/send", R"({"sml": "s2f17w", "wait": true, "port": 1})");
        const auto sent = host.recv();
        ASSERT_TRUE(sent);
        const auto r = send.finish();
        EXPECT_EQ(r.status, 504) << r.body;
        EXPECT_TRUE(json(r).toObject()[QStringLiteral("error")].toString().contains(QStringLiteral("T3"))) << r.body;
        const auto s9f9 = host.recv();
        ASSERT_TRUE(s9f9);
        EXPECT_EQ(s9f9->substr(4, 4), "0909");
        EXPECT_EQ(s9f9->substr(20), "210a" + sent->substr(0, 20));
    }
    const auto plain = post("/api/send", R"({"sml": "s6f11 <u4 7>"})");
    ASSERT_EQ(plain.status, 200) << plain.body;
    EXPECT_EQ(json(plain).toObject()[QStringLiteral("direction")].toString(), QStringLiteral("out"));
    const auto s6f11 = host.recv();
    ASSERT_TRUE(s6f11);
    EXPECT_EQ(s6f11->substr(4, 4) + s6f11->substr(20), "060bb10400000007");

    // Refused before anything goes out.
    const qint64 before = json(get("/api/status")).toObject()[QStringLiteral("lastId")].toInteger();
    const auto bad = post("/api/send", R"({"sml": "s1f1w <l"})");
    EXPECT_EQ(bad.status, 400);
    EXPECT_NE(json(bad).toObject()[QStringLiteral("error")].toString().toStdString().find("missing"), std::string::npos) << bad.body;
    EXPECT_EQ(post("/api/send", R"({"definition": "No Such"})").status, 404);
    EXPECT_EQ(post("/api/send", R"({"sml": "s1f1w", "port": 7})").status, 400);
    EXPECT_EQ(post("/api/send", R"({"sml": )").status, 400);
    EXPECT_EQ(post("/api/send", std::string(16 * 1024 * 1024 + 1, ' ')).status, 413);
    EXPECT_FALSE(host.recv(300));
    EXPECT_EQ(json(get("/api/status")).toObject()[QStringLiteral("lastId")].toInteger(), before);
    EXPECT_EQ(json(get("/api/status")).toObject()[QStringLiteral("counters")].toObject()[QStringLiteral("t3Expiries")].toInt(), 1);
}

TEST_F(Api, TokenIsRequiredWhenGivenAndForAnyAddressButLoopback) {
    QTemporaryDir dir;
    const QString token = dir.filePath(QStringLiteral("token"));
    writeFile(token, "s3cret\n");
    start({QStringLiteral("--api"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--api-token-file"), token});
    EXPECT_EQ(get("/api/status").status, 401);
    EXPECT_EQ(get("/api/status", "Authorization: Bearer wrong\r\n").status, 401);
    EXPECT_EQ(get("/api/status", "Authorization: Bearer s3cret\r\n").status, 200);
    EXPECT_EQ(get("/api/nothing", "Authorization: Bearer s3cret\r\n").status, 404);
    // The event stream asks the same: a wrong token is closed before the journal's first entry.
    httptest::WebSocket refused(api, "/api/events?since=0", 0, "Authorization: Bearer wrong\r\n");
    EXPECT_EQ(refused.next(), "");
    httptest::WebSocket admitted(api, "/api/events?since=0", 0, "Authorization: Bearer s3cret\r\n");
    EXPECT_NE(admitted.next().find("\"sType\":1"), std::string::npos);

    Settings other;
    other.localPort = freePort();
    Tovik open(other, kDocument, true, {}, {QStringLiteral("--api"), QStringLiteral("0.0.0.0:0")});
    EXPECT_EQ(open.exitCode(), 2);
    EXPECT_NE(open.err().find("not loopback"), std::string::npos) << open.err();
}

TEST_F(Api, DefinitionEditsReachTheNextReplyAndTheFileAndPortsFollowConnectCommands) {
    start();
    auto put = [&](const std::string& name, const std::string& body) {
        return httptest::request(api, "PUT", "/api/definitions/" + name, body);
    };
    EXPECT_EQ(json(get("/api/definitions")).toArray().size(), 5);
    EXPECT_EQ(json(get("/api/definitions/S2F18%20Second")).toObject()[QStringLiteral("text")].toString().toStdString(),
              "s2f18\r\n<a'20250101'>\r\n");
    EXPECT_EQ(get("/api/definitions/Nope").status, 404);

    // The changed answer goes out on the next S1F1; a new name with a slash is added.
    EXPECT_EQ(put("S1F2%20Data", R"({"text": "s1f2 <a'NEW'>", "comment": "c"})").status, 200);
    EXPECT_EQ(put("S7F2%2Fx", R"({"text": "s7f2 <b 1>"})").status, 201);
    EXPECT_EQ(put("Bad", R"({"text": "s1f2 <a"})").status, 400);
    EXPECT_EQ(put("Bad", R"({"text": "zz", "type": "hex"})").status, 400);
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 4)));
    EXPECT_EQ(host.recv(), header(0, 0x01, 2, 4) + "4103" + "4e4557");
    ASSERT_TRUE(host.send(header(0, 0x87, 1, 5)));
    EXPECT_EQ(host.recv(), header(0, 0x07, 2, 5) + "210101");
    EXPECT_TRUE(json(get("/api/status")).toObject()[QStringLiteral("document")].toObject()[QStringLiteral("modified")].toBool());
    EXPECT_EQ(httptest::request(api, "DELETE", "/api/definitions/S2F18%20First").status, 200);
    EXPECT_EQ(httptest::request(api, "DELETE", "/api/definitions/S2F18%20First").status, 404);

    ASSERT_EQ(post("/api/document/save", {}).status, 200);
    QFile saved(tovik->docPath);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray text = saved.readAll();
    EXPECT_TRUE(text.contains("'S7F2/x'")) << text.toStdString();
    EXPECT_TRUE(text.contains("<a'NEW'>"));
    EXPECT_FALSE(text.contains("S2F18 First"));
    EXPECT_FALSE(json(get("/api/status")).toObject()[QStringLiteral("document")].toObject()[QStringLiteral("modified")].toBool());

    // Reload reads what is on disk now.
    writeFile(tovik->docPath, kDocument);
    ASSERT_EQ(post("/api/document/reload", {}).status, 200);
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 6)));
    EXPECT_EQ(host.recv(), header(0, 0x01, 2, 6) + kS1F2Body);

    // Tools > Disconnect drops the host; Connect closes the port, again opens it.
    EXPECT_EQ(post("/api/disconnect", {}).status, 200);
    EXPECT_TRUE(host.waitClosed());
    const QJsonObject closed = json(post("/api/connect", {})).toObject();
    EXPECT_FALSE(closed[QStringLiteral("ports")].toObject()[QStringLiteral("hsms")].toObject()[QStringLiteral("open")].toBool());
    EXPECT_TRUE(json(post("/api/connect", {})).toObject()[QStringLiteral("connected")].toBool());
    RawHost again;
    EXPECT_TRUE(again.connect(settings.localPort));
}

TEST_F(Api, EventStreamGivesLogLinesAndEntriesInOrderAndDropsAClientThatDoesNotRead) {
    start();
    httptest::WebSocket events(api, "/api/events?since=0");
    ASSERT_TRUE(events.upgraded());
    // The journal so far first: Select.req and its answer.
    for (int stype : {1, 2}) {
        const QJsonObject e = QJsonDocument::fromJson(QByteArray::fromStdString(events.next())).object();
        EXPECT_EQ(e[QStringLiteral("type")].toString(), QStringLiteral("message"));
        EXPECT_EQ(e[QStringLiteral("entry")].toObject()[QStringLiteral("sType")].toInt(), stype);
    }
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 4)));
    ASSERT_TRUE(host.recv());
    std::vector<std::string> seen; // "in S1F1", log lines, "out S1F2" as they came
    const auto has = [&](const std::string& what) { return std::find(seen.begin(), seen.end(), what) != seen.end(); };
    // The entries come as they happen, the log lines of their handling once it is done.
    while (!has("out 2") || !has("Decoding...")) {
        const std::string text = events.next();
        ASSERT_FALSE(text.empty());
        const QJsonObject e = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
        if (e[QStringLiteral("type")].toString() == QStringLiteral("log")) {
            seen.push_back(e[QStringLiteral("line")].toString().toStdString());
        } else {
            const QJsonObject entry = e[QStringLiteral("entry")].toObject();
            seen.push_back(entry[QStringLiteral("direction")].toString().toStdString() + " " +
                           std::to_string(entry[QStringLiteral("f")].toInt()));
        }
    }
    EXPECT_EQ(seen.front(), "in 1");
    EXPECT_LT(std::find(seen.begin(), seen.end(), "in 1"), std::find(seen.begin(), seen.end(), "out 2"));

    // A client that never reads is dropped with a log line; hosts are served all along.
    httptest::WebSocket stuck(api, "/api/events", 4096);
    ASSERT_TRUE(stuck.upgraded());
    char head[16];
    std::snprintf(head, sizeof head, "43%06x", 200000u); // <a> of 200000 characters
    const std::string body = head + std::string(400000, '7');
    qint64 lastId = 0; // each entry once, in the journal's order
    for (unsigned i = 0; i < 60 && tovik->countPrefix("API event client ") == 0; ++i) {
        ASSERT_TRUE(host.send(header(0, 0x86, 11, 100 + i), body));
        ASSERT_TRUE(host.recv()) << i;
        // The reader keeps up: it reads until the reply's entry came.
        for (;;) {
            const std::string text = events.next(5000);
            ASSERT_FALSE(text.empty()) << i;
            const QJsonObject entry = QJsonDocument::fromJson(QByteArray::fromStdString(text))
                                          .object()[QStringLiteral("entry")].toObject();
            if (!entry.isEmpty()) {
                EXPECT_GT(entry[QStringLiteral("id")].toInteger(), lastId) << i;
                lastId = entry[QStringLiteral("id")].toInteger();
            }
            if (entry[QStringLiteral("direction")] == QStringLiteral("out") &&
                entry[QStringLiteral("systemBytes")].toInteger() == 100 + i)
                break;
        }
    }
    ASSERT_TRUE(Tovik::waitFor([&] { return tovik->countPrefix("API event client 127.0.0.1:") == 1; }));
    EXPECT_EQ(tovik->countPrefix("API event client 127.0.0.1:" + std::to_string(stuck.localPort()) + " dropped"), 1u);
}

// The description in the repository names exactly the routes the server has,
// and the server hands out that file.
TEST(ApiDescription, NamesEveryRouteTheServerHas) {
    QFile file(QStringLiteral(TOVIK_SOURCE_DIR "/api/openapi.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    const QJsonObject paths = QJsonDocument::fromJson(text).object()[QStringLiteral("paths")].toObject();
    QStringList described;
    for (auto p = paths.begin(); p != paths.end(); ++p)
        for (const QString& method : p.value().toObject().keys())
            if (method != QStringLiteral("parameters"))
                described << method.toUpper() + QLatin1Char(' ') + p.key();
    int argc = 1;
    char name[] = "test_api";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv); // the server's thread runs an event loop
    tovik::CTovikarDoc doc;
    tovik::CTovikarView view(doc);
    tovik::CHApiServer server(view, nullptr);
    QStringList routes = server.RouteNames();
    described.sort();
    routes.sort();
    EXPECT_EQ(described, routes);

    Settings settings;
    settings.localPort = freePort();
    Tovik tovik(settings, kDocument, true, {}, {QStringLiteral("--api"), QStringLiteral("0")});
    const std::string prefix = "API listening on 127.0.0.1:";
    ASSERT_TRUE(Tovik::waitFor([&] { return tovik.countPrefix(prefix) == 1; }));
    int port = 0;
    for (const auto& l : tovik.lines())
        if (l.rfind(prefix, 0) == 0)
            port = std::stoi(l.substr(prefix.size()));
    EXPECT_EQ(httptest::request(port, "GET", "/api/openapi.json").body, text.toStdString());
}

TEST_F(Api, ScriptFunctionsAreCalledWithTheirArgumentsAndPromisesAwaited) {
    const std::string script =
        "tovik.expose('add', (a, b) => a + b);\n"
        "tovik.expose('later', (x) => tovik.sleep(50).then(() => ({got: x, list: [1, 'two']})));\n"
        "tovik.expose('boom', () => { throw new Error('no way'); });\n"
        "tovik.expose('event', (ceid) => tovik.send(`s6f11w <u4 ${ceid}>`).then(() => 'sent'));\n";
    start({QStringLiteral("--api"), QStringLiteral("0")}, {{QStringLiteral("equipment.js"), script}});
    EXPECT_EQ(json(post("/api/script/add", "[2, 3]")).toObject()[QStringLiteral("result")].toInt(), 5);
    const QJsonObject later = json(post("/api/script/later", R"(["x"])")).toObject()[QStringLiteral("result")].toObject();
    EXPECT_EQ(later[QStringLiteral("got")].toString(), QStringLiteral("x"));
    EXPECT_EQ(later[QStringLiteral("list")].toArray()[1].toString(), QStringLiteral("two"));
    const auto boom = post("/api/script/boom", "[]");
    EXPECT_EQ(boom.status, 409);
    EXPECT_NE(boom.body.find("no way"), std::string::npos);
    EXPECT_EQ(post("/api/script/nope", "[]").status, 404);
    EXPECT_EQ(post("/api/script/add", "{").status, 400);

    // A function that sends: the host sees it, the call waits for its reply.
    httptest::Call event(api, "POST", "/api/script/event", "[7]");
    const auto s6f11 = host.recv();
    ASSERT_TRUE(s6f11);
    EXPECT_EQ(s6f11->substr(20), "b10400000007");
    ASSERT_TRUE(host.send(header(0, 0x06, 12, std::stoul(s6f11->substr(12, 8), nullptr, 16)), "210100"));
    EXPECT_EQ(json(event.finish()).toObject()[QStringLiteral("result")].toString(), QStringLiteral("sent"));
    EXPECT_EQ(post("/api/script/reload", {}).status, 200);
    EXPECT_EQ(json(post("/api/script/add", "[1, 1]")).toObject()[QStringLiteral("result")].toInt(), 2);
}

// Its own test, so its 30 s run beside the others: a Promise that never
// settles is 504 once its time is up, and the host is served meanwhile.
TEST_F(Api, ScriptCallWhosePromiseNeverSettlesIs504After30Seconds) {
    start({QStringLiteral("--api"), QStringLiteral("0")},
          {{QStringLiteral("equipment.js"),
            "tovik.expose('never', () => new Promise(() => {}));\n"}});
    httptest::Call never(api, "POST", "/api/script/never", "[]");
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 9)));
    EXPECT_EQ(host.recv(), header(0, 0x01, 2, 9) + kS1F2Body);
    EXPECT_EQ(never.finish(25000).status, 0);
    const auto late = never.finish(15000);
    EXPECT_EQ(late.status, 504);
    EXPECT_NE(late.body.find("30 s"), std::string::npos) << late.body;
}

// The windowed program (offscreen here) serves the same API.
TEST(ApiWindowed, AnswersStatusBesideTheWindow) {
    QTemporaryDir dir;
    Settings settings;
    settings.localPort = freePort();
    const QString doc = dir.filePath(QStringLiteral("equipment.tvkm"));
    writeFile(doc, kDocument);
    writeFile(dir.filePath(QStringLiteral("equipment.ini")), settings.text());
    const int port = freePort();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    QProcess tovik;
    tovik.setProcessEnvironment(env);
    tovik.start(QStringLiteral(TOVIK_EXE),
                {QStringLiteral("--windowed"), QStringLiteral("--no-splash"),
                 QStringLiteral("--api"), QString::number(port), doc});
    httptest::Response status;
    ASSERT_TRUE(Tovik::waitFor(
        [&] { return (status = httptest::request(port, "GET", "/api/status")).status == 200; },
        20000))
        << tovik.readAllStandardError().toStdString();
    const QJsonObject o = json(status).toObject();
    EXPECT_EQ(o[QStringLiteral("protocol")].toString(), QStringLiteral("HSMS"));
    EXPECT_EQ(o[QStringLiteral("document")].toObject()[QStringLiteral("path")].toString(), doc);
    tovik.terminate();
    EXPECT_TRUE(tovik.waitForFinished(10000));
}

// Rules added through the API act on the wire as any others; a bad one adds nothing.
TEST_F(Api, FaultRulesAddedListedSwitchedAndRemovedChangeWhatTheHostGets) {
    start();
    EXPECT_EQ(json(get("/api/panel")).toObject(), QJsonObject{}); // no script, no panel
    const auto added = post("/api/faults", R"([{"match": "S1F1", "action": "drop"}, {"match": "S2F13", "action": "drop"}])");
    ASSERT_EQ(added.status, 201) << added.body;
    const QJsonArray ids = json(added).toObject()[QStringLiteral("ids")].toArray();
    ASSERT_EQ(ids.size(), 2);
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 4)));
    EXPECT_FALSE(host.recv(500));

    const auto bad = post("/api/faults", R"([{"match": "S1F3", "action": "drop"}, {"match": "S1F1", "action": "drop", "probabilty": 1}])");
    EXPECT_EQ(bad.status, 400);
    EXPECT_NE(bad.body.find("rule 1"), std::string::npos) << bad.body;
    EXPECT_EQ(post("/api/faults", R"({"match": "S1F1", "action": "explode"})").status, 400);
    const QJsonArray rules = json(get("/api/faults")).toArray();
    ASSERT_EQ(rules.size(), 2);
    EXPECT_EQ(rules[0].toObject()[QStringLiteral("fired")].toInt(), 1);

    // Switched off the reply comes again; on, it is gone; removed, it comes.
    const std::string first = "/api/faults/" + std::to_string(ids[0].toInt());
    EXPECT_EQ(httptest::request(api, "PATCH", first, R"({"enabled": false})").status, 200);
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 5)));
    EXPECT_EQ(host.recv(), header(0, 0x01, 2, 5) + kS1F2Body);
    EXPECT_EQ(httptest::request(api, "PATCH", first, R"({"enabled": true})").status, 200);
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 6)));
    EXPECT_FALSE(host.recv(500));
    EXPECT_EQ(httptest::request(api, "DELETE", first).status, 200);
    EXPECT_EQ(httptest::request(api, "DELETE", first).status, 404);
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 7)));
    EXPECT_EQ(host.recv(), header(0, 0x01, 2, 7) + kS1F2Body);

    EXPECT_EQ(json(post("/api/faults", R"({"match": "S1F1", "action": "drop"})")).toObject()[QStringLiteral("id")].toInt(),
              ids[1].toInt() + 1);
    EXPECT_EQ(json(httptest::request(api, "DELETE", "/api/faults")).toObject()[QStringLiteral("deleted")].toInt(), 2);
    ASSERT_TRUE(host.send(header(0, 0x81, 1, 8)));
    EXPECT_EQ(host.recv(), header(0, 0x01, 2, 8) + kS1F2Body);
    EXPECT_EQ(json(get("/api/faults")).toArray().size(), 0);
}

TEST_F(Api, PanelShowsValuesAndActionsRunTheScriptsHandlers) {
    const std::string script = R"JS(
let presses = 0;
tovik.panel({ title: 'Line', sections: [{ title: 'State', items: [
    { id: 'presses', type: 'value', label: 'Presses', value: 0 },
    { id: 'press', type: 'button', label: 'Press', onClick: () => tovik.panel.set('presses', ++presses) },
    { id: 'mode', type: 'choice', label: 'Mode', options: ['A', 'B'], value: 'A',
      onChange: (v) => tovik.panel.set('presses', v) } ] }] });
)JS";
    start({QStringLiteral("--api"), QStringLiteral("0")}, {{QStringLiteral("equipment.js"), script}});
    const auto value = [&](int index) -> QJsonValue {
        const QJsonObject panel = json(get("/api/panel")).toObject();
        return panel.value(QStringLiteral("sections")).toArray().at(0).toObject().value(QStringLiteral("items"))
            .toArray().at(index).toObject().value(QStringLiteral("value"));
    };
    EXPECT_EQ(json(get("/api/panel")).toObject()[QStringLiteral("title")].toString(), QStringLiteral("Line"));
    EXPECT_EQ(value(0).toInt(), 0);
    EXPECT_EQ(post("/api/panel/press", {}).status, 200);
    EXPECT_EQ(post("/api/panel/press", {}).status, 200);
    EXPECT_EQ(value(0).toInt(), 2);
    const auto chosen = post("/api/panel/mode", R"({"value": "B"})");
    EXPECT_EQ(chosen.status, 200) << chosen.body;
    EXPECT_EQ(value(2).toString(), QStringLiteral("B"));
    EXPECT_EQ(value(0).toString(), QStringLiteral("B"));
    const auto refused = post("/api/panel/mode", R"({"value": "C"})");
    EXPECT_EQ(refused.status, 400);
    EXPECT_NE(refused.body.find("no such option"), std::string::npos) << refused.body;
    EXPECT_EQ(value(2).toString(), QStringLiteral("B"));
    EXPECT_EQ(post("/api/panel/nope", {}).status, 404);
}

// The texts the server writes by hand for every message are the ones Qt's
// JSON writer would give: same keys, order, numbers and escapes.
TEST(ApiJson, EntryAndLogLineTextsAreQtsCompactJson) {
    using namespace tovik;
    const QString tricky = QStringLiteral("q\" b\\ \b\f\n\r\t \x01\x1f\x7f é € / ") + QChar(0xd83d) + QChar(0xde00) +
                           QStringLiteral(" lone ") + QChar(0xdc00) + QChar(0xd800) + QStringLiteral("x");
    const auto qt = [](const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); };
    EXPECT_EQ(LogLineText(tricky), qt({{QStringLiteral("type"), QStringLiteral("log")}, {QStringLiteral("line"), tricky}}));

    const auto entry = [](CHJournalEntry::Direction d, const QString& peer, const std::string& hex) {
        CHJournalEntry e{4294967301ull, 1700000000123, d, 1, peer, {}};
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            e.bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        return e;
    };
    // S1F2 with a list body, a body that does not decode, a select.req, a stub of bytes.
    const CHJournalEntry reply = entry(CHJournalEntry::Out, QStringLiteral("127.0.0.1:5000 é"),
                                       "80010102000089abcdef" "0104" "41044d444c4e" "210101" "b10400000007" "910440c00000");
    const CHJournalEntry broken = entry(CHJournalEntry::In, tricky, "0001068b0000000000054105" "41");
    const CHJournalEntry control = entry(CHJournalEntry::In, {}, "ffff00000001000000ff");
    const CHJournalEntry stub = entry(CHJournalEntry::In, QStringLiteral("p"), "0102");
    for (const CHJournalEntry* e : {&reply, &broken, &control, &stub}) {
        const QByteArray text = JournalEntryText(*e);
        QJsonParseError err{};
        const QJsonObject o = QJsonDocument::fromJson(text, &err).object();
        ASSERT_EQ(err.error, QJsonParseError::NoError) << text.constData();
        EXPECT_EQ(qt(o), text);
        EXPECT_EQ(o[QStringLiteral("id")].toInteger(), 4294967301ll);
        EXPECT_EQ(o[QStringLiteral("time")].toString(), QStringLiteral("2023-11-14T22:13:20.123Z"));
        EXPECT_EQ(o[QStringLiteral("peer")].toString(), e->peer);
        EXPECT_EQ(o[QStringLiteral("hex")].toString().size(), static_cast<qsizetype>(2 * e->bytes.size()));
    }
    const QJsonObject r = QJsonDocument::fromJson(JournalEntryText(reply)).object();
    EXPECT_EQ(r[QStringLiteral("direction")], QStringLiteral("out"));
    EXPECT_EQ(r[QStringLiteral("device")].toInt(), 1);
    EXPECT_EQ(r[QStringLiteral("systemBytes")].toInteger(), 0x89abcdefll);
    EXPECT_FALSE(r[QStringLiteral("w")].toBool());
    EXPECT_EQ(r[QStringLiteral("body")].toObject()[QStringLiteral("items")].toArray().size(), 4);
    EXPECT_TRUE(r[QStringLiteral("sml")].toString().contains(QStringLiteral("MDLN")));
    const QJsonObject b = QJsonDocument::fromJson(JournalEntryText(broken)).object();
    EXPECT_TRUE(b.contains(QStringLiteral("error")) && !b.contains(QStringLiteral("body")) && !b.contains(QStringLiteral("sml")));
    const QJsonObject c = QJsonDocument::fromJson(JournalEntryText(control)).object();
    EXPECT_EQ(c[QStringLiteral("sType")].toInt(), 1);
    EXPECT_TRUE(c[QStringLiteral("w")].toBool() == false && c[QStringLiteral("systemBytes")].toInt() == 255);
    EXPECT_FALSE(c.contains(QStringLiteral("body")) || c.contains(QStringLiteral("error")));
}
