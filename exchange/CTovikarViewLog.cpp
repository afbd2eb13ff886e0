// Message entries and the date line of the event log.
#include "CTovikarView.h"

#include "CHEventLog.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>

namespace tovik {

namespace {
// Digits straight into the entry: a temporary QString or a printf per
// number cost more than the rest of a relayed message's entry.
void appendNumber(QString& text, int value) {
    char buf[16];
    const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    text += QLatin1String(buf, static_cast<qsizetype>(end - buf));
}
} // namespace

void CTovikarView::LogDateTime() {
    if (!m_settings.ShowDateTime)
        return;
    const std::time_t now = std::time(nullptr);
    if (now != m_stampSecond) {
        // Formatting the local time costs more than the rest of an entry; one
        // text per second serves every entry of that second.
        std::tm local{};
        localtime_r(&now, &local);
        char buf[40];
        std::snprintf(buf, sizeof buf, "%04u/%02u/%02u %02u:%02u:%02u",
                      static_cast<unsigned>(local.tm_year + 1900), static_cast<unsigned>(local.tm_mon + 1),
                      static_cast<unsigned>(local.tm_mday), static_cast<unsigned>(local.tm_hour),
                      static_cast<unsigned>(local.tm_min), static_cast<unsigned>(local.tm_sec));
        m_stamp = QString::fromLatin1(buf);
        m_stampSecond = now;
    }
    AddText(m_stamp);
}

void CTovikarView::LogMessage(const QString& label, CHVeltSecsII* codec, const std::string* hex) {
    CHVeltSecsII& c = codec ? *codec : m_working;
    LogDateTime();

    QString text;
    text.reserve(64);
    text += label;
    text += QLatin1Char(' ');
    const bool hsmsSide = m_settings.Protocol == 0 || m_settings.Protocol == 3;
    if (hsmsSide && c.IsControlMessage()) {
        switch (c.GetControlType()) {
        case 1:
            text += QLatin1String("Select.Req ");
            break;
        case 5:
            text += QLatin1String("LinkTest.Req ");
            break;
        case 6:
            text += QLatin1String("LinkTest.Rsp ");
            break;
        case 9:
            text += QLatin1String("Separate.Req ");
            break;
        default:
            break;
        }
    }
    bool lineBroken = false;
    if (m_settings.ShowConnection && hsmsSide) {
        text += QLatin1Char('\n');
        const CVeltHsms& side = m_logUpstream && m_upstream ? *m_upstream : m_hsms;
        text += side.GetRemoteAddress();
        text += QLatin1Char('(');
        appendNumber(text, side.GetRemotePort());
        text += QLatin1String(")\n");
        lineBroken = true;
    }
    if (m_settings.ShowMsgHeader) {
        if (!lineBroken)
            text += QLatin1Char('\n');
        if (hex) {
            text += QLatin1String(hex->data(), static_cast<qsizetype>(std::min<std::size_t>(hex->size(), 20)));
        } else {
            const std::string h = c.GetHexMessage();
            text += QLatin1String(h.data(), static_cast<qsizetype>(std::min<std::size_t>(h.size(), 20)));
        }
        text += QLatin1Char('\n');
    }
    if (m_settings.ShowMsgBody) {
        const std::string sml = c.GetSmlText();
        text += QLatin1String(sml.data(), static_cast<qsizetype>(sml.size()));
    } else {
        text += QLatin1Char('s');
        appendNumber(text, c.GetStream());
        text += QLatin1Char('f');
        appendNumber(text, c.GetFunction());
        if (c.GetWBit())
            text += QLatin1Char('w');
    }
    AddText(text);
}

} // namespace tovik
