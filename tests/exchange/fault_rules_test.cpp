// The rule set itself: where a rule applies (port, host, enabled), what
// list() gives back, and removal. The actions are seen on the wire in
// tests/engine/test_faults.cpp.
#include "CHFaultRules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using tovik::CHFaultRules;

namespace {

int add(CHFaultRules& rules, const char* json) {
    return rules.add(QJsonDocument::fromJson(json).object()).id;
}

CHFaultRules::Query from(const char* address, int peerPort, int port = 5000) {
    CHFaultRules::Query q;
    q.stream = 1;
    q.function = 3;
    q.port = port;
    q.peerAddress = QString::fromLatin1(address);
    q.peerPort = peerPort;
    return q;
}

} // namespace

TEST(FaultRules, PortHostAndEnabledChooseTheRuleAndListShowsItsState) {
    CHFaultRules rules;
    const int a = add(rules, R"({"match": "S1F*", "host": "10.0.0.7:6001", "action": "drop"})");
    const int b = add(rules, R"({"match": "S1F3", "port": 5001, "action": "duplicate", "enabled": false})");
    const int c = add(rules, R"({"match": "*", "action": "delay", "minMs": 10, "maxMs": 20, "seed": 5})");
    ASSERT_GT(a * b * c, 0);

    EXPECT_EQ(rules.decide(from("10.0.0.7", 6001))->rule, a);
    EXPECT_EQ(rules.decide(from("10.0.0.7", 6002))->rule, c); // other peer port
    EXPECT_EQ(rules.decide(from("10.0.0.8", 6001))->rule, c); // other address
    EXPECT_EQ(rules.decide(from("10.0.0.8", 1, 5001))->rule, c); // b is off
    ASSERT_TRUE(rules.setEnabled(b, true));
    EXPECT_EQ(rules.decide(from("10.0.0.8", 1, 5001))->rule, b);

    // Delays drawn inside the bounds, the same from the same seed.
    std::vector<int> drawn[2];
    for (auto& d : drawn) {
        CHFaultRules again;
        add(again, R"({"match": "*", "action": "delay", "minMs": 10, "maxMs": 20, "seed": 5})");
        for (int i = 0; i < 20; ++i)
            d.push_back(again.decide(from("h", 1))->ms);
    }
    EXPECT_EQ(drawn[0], drawn[1]);
    EXPECT_EQ(*std::min_element(drawn[0].begin(), drawn[0].end()), 10);
    EXPECT_EQ(*std::max_element(drawn[0].begin(), drawn[0].end()), 20);

    const QJsonArray list = rules.list();
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].toObject().value(QStringLiteral("fired")).toInt(), 1);
    EXPECT_EQ(list[1].toObject().value(QStringLiteral("enabled")).toBool(), true);
    EXPECT_EQ(list[2].toObject().value(QStringLiteral("fired")).toInt(), 3);
    EXPECT_EQ(list[2].toObject().value(QStringLiteral("seed")).toInt(), 5);
    // What list() gives is a rule again.
    EXPECT_GT(rules.add(list[0].toObject()).id, c);

    EXPECT_TRUE(rules.remove(c));
    EXPECT_FALSE(rules.remove(c));
    EXPECT_FALSE(rules.decide(from("10.0.0.8", 6001)));
    rules.clear();
    EXPECT_TRUE(rules.empty());
}
