// The program's codec operations and the builders of its standard messages.
// The texts here are the program's own SML dialect; peers and the event log
// see exactly what these produce.
#include "CHVeltSecsII.h"

#include <cstdio>

namespace tovik {

namespace {

std::string format(const char* fmt, unsigned long value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, fmt, value);
    return buf;
}

std::string a(const std::string& text) {
    return "<a'" + text + "'>";
}

std::string u4(uint32_t value) {
    return format("<u4 %lu>", value);
}

std::string u1(uint8_t value) {
    return format("<u1 %lu>", value);
}

} // namespace

std::string CHVeltSecsII::GetItemValue(const std::string& path) {
    SetItemPath(path);
    if (GetItemFound() == 0)
        return {};
    return GetItemValue();
}

void CHVeltSecsII::SetSml(const std::string& text) {
    SetSmlText(text);
}

bool CHVeltSecsII::IsControlMessage() {
    return GetHsmsFormat() && GetDevice() == 32767 && GetStream() == 0 && GetFunction() == 0;
}

void CHVeltSecsII::loadReply(const std::string& sml) {
    SetSml(sml);
    ReplyTo(GetHexMessage());
}

void CHVeltSecsII::BuildS9(int function, const std::string& headerHex) {
    std::string text = format("s9f%lu<b", static_cast<unsigned long>(function & 0xff));
    for (std::size_t i = 0; i < 10; ++i) {
        text += " 0x";
        text += 2 * i + 1 < headerHex.size() ? headerHex.substr(2 * i, 2) : std::string("00");
    }
    text += '>';
    SetSml(text);
}

void CHVeltSecsII::BuildS1F1() {
    SetSml("s1f1w");
}

void CHVeltSecsII::BuildS1F2(const std::string& model, const std::string& revision) {
    loadReply("s1f2{\t" + a(model) + "\t" + a(revision) + "}");
}

void CHVeltSecsII::BuildS1F3(const std::string& statusVariables) {
    SetSml("s1F3w{\t" + statusVariables + "}");
}

void CHVeltSecsII::BuildS1F4(const std::string& statusValues) {
    loadReply("s1F4{\t" + statusValues + "}");
}

void CHVeltSecsII::BuildS1F13(const std::string& model, const std::string& revision) {
    if (model.empty() && revision.empty())
        SetSml("s1f13w{}");
    else
        SetSml("s1f13w{\t" + a(model) + "\t" + a(revision) + "}");
}

void CHVeltSecsII::BuildS1F14(const std::string& model, const std::string& revision) {
    if (model.empty() && revision.empty())
        loadReply("s1f14{\t<u1 0>\t{\t}}");
    else
        loadReply("s1f14{\t<u1 0>\t{\t\t" + a(model) + "\t\t" + a(revision) + "\t}}");
}

void CHVeltSecsII::BuildS2F15(const std::string& constants) {
    SetSml("s2f15w{\t" + constants + "}");
}

std::string CHVeltSecsII::FormatU4Pair(uint32_t first, uint32_t second) {
    return "{\t" + u4(first) + "\t" + u4(second) + "}";
}

std::string CHVeltSecsII::TimeText(const std::tm& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02u%02u%02u%02u%02u%02u",
                  static_cast<unsigned>((t.tm_year + 1900) % 100),
                  static_cast<unsigned>(t.tm_mon + 1), static_cast<unsigned>(t.tm_mday),
                  static_cast<unsigned>(t.tm_hour), static_cast<unsigned>(t.tm_min),
                  static_cast<unsigned>(t.tm_sec));
    return buf;
}

void CHVeltSecsII::BuildS2F31(const std::string& time) {
    std::string text = time;
    if (text.empty()) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        text = TimeText(local);
    }
    SetSml("s2f31w" + a(text));
}

void CHVeltSecsII::BuildS2F32(uint8_t ack) {
    loadReply("s2f32" + u1(ack));
}

void CHVeltSecsII::BuildS2F33(uint32_t dataId, const std::string& reports) {
    SetSml("s2f33w{\t" + u4(dataId) + "\t{\t\t" + reports + "\t}}");
}

std::string CHVeltSecsII::FormatU4List(uint32_t id, const std::string& list) {
    return "{\t" + u4(id) + "\t{\t\t" + list + "\t}}";
}

void CHVeltSecsII::BuildS2F34(uint8_t ack) {
    loadReply("s2f34" + u1(ack));
}

void CHVeltSecsII::BuildS2F35(uint32_t dataId, const std::string& links) {
    SetSml("s2f35w{\t" + u4(dataId) + "\t{\t\t" + links + "\t}}");
}

void CHVeltSecsII::BuildS2F36(uint8_t ack) {
    loadReply("s2f36" + u1(ack));
}

void CHVeltSecsII::BuildS2F37(bool enable, const std::string& events) {
    SetSml(std::string("s2f37w{\t<bool ") + (enable ? "true" : "false") + ">\t{\t\t" + events +
           "\t}}");
}

void CHVeltSecsII::BuildS2F38(uint8_t ack) {
    loadReply("s2f38" + u1(ack));
}

void CHVeltSecsII::BuildS2F41(const std::string& command, const std::string& parameters) {
    SetSml("s2f41w{\t" + a(command) + "\t{\t\t" + parameters + "\t}}");
}

std::string CHVeltSecsII::FormatNameU1(const std::string& name, uint8_t code) {
    return "{\t" + a(name) + "\t" + u1(code) + "}";
}

std::string CHVeltSecsII::FormatNameItem(const std::string& name, const std::string& item) {
    return "{\t" + a(name) + "\t" + item + "}";
}

void CHVeltSecsII::BuildS2F42(uint8_t ack, const std::string& parameterAcks) {
    loadReply("s2f42{\t" + format("<u1'%lu'>", ack) + "\t{\t\t" + parameterAcks + "\t}}");
}

} // namespace tovik
