#include "CHSettingsFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <variant>

namespace tovik {

namespace {

using Member = std::variant<int Settings::*, bool Settings::*, QString Settings::*>;

struct SettingRef {
    const char* section;
    const char* name;
    Member member;
};

// Load and save order: section by section. The defaults are Settings' own.
const std::array<SettingRef, Settings::kSettingCount> kSettings{{
    {"Preferences", "Protocol", &Settings::Protocol},
    {"Preferences", "SaveWindowPosition", &Settings::SaveWindowPosition},
    {"Preferences", "OpenMruDocument", &Settings::OpenMruDocument},
    {"Preferences", "DeviceID", &Settings::DeviceID},
    {"Preferences", "CheckDeviceID", &Settings::CheckDeviceID},
    {"Preferences", "Hide", &Settings::Hide},
    {"HSMS", "Server", &Settings::Server},
    {"HSMS", "IPAddress", &Settings::IPAddress},
    {"HSMS", "PortNumber", &Settings::PortNumber},
    {"HSMS", "LocalPortNumber", &Settings::LocalPortNumber},
    {"HSMS", "DisconnectAtSeparateReq", &Settings::DisconnectAtSeparateReq},
    {"HSMS", "SendSelectReqAtConnect", &Settings::SendSelectReqAtConnect},
    {"Info", "ShowMsgHeader", &Settings::ShowMsgHeader},
    {"Info", "ShowMsgBody", &Settings::ShowMsgBody},
    {"Info", "ShowDateTime", &Settings::ShowDateTime},
    {"Info", "ShowConnection", &Settings::ShowConnection},
    {"TimeOut", "T1", &Settings::T1},
    {"TimeOut", "T2", &Settings::T2},
    {"TimeOut", "T3", &Settings::T3},
    {"TimeOut", "T4", &Settings::T4},
    {"TimeOut", "T8", &Settings::T8},
    {"SECS", "CommPort", &Settings::CommPort},
    {"SECS", "BaudRate", &Settings::BaudRate},
    {"SECS", "Retry", &Settings::Retry},
    {"SECS", "Master", &Settings::Master},
    {"Log", "EnableLog", &Settings::EnableLog},
    {"Log", "LogFileName", &Settings::LogFileName},
    {"Log", "LogFileSize", &Settings::LogFileSize},
    {"Log", "LogBakCount", &Settings::LogBakCount},
    {"Log", "LogVerbose", &Settings::LogVerbose},
    {"Event", "InvokeEvent", &Settings::InvokeEvent},
    {"Event", "EventStream", &Settings::EventStream},
    {"Event", "EventFunction", &Settings::EventFunction},
}};

// Read at start and never written by Save.
const std::array<SettingRef, 18> kReadOnly{{
    {"SECS", "DevicePath", &Settings::DevicePath},
    {"SECS", "ReconnectInterval", &Settings::ReconnectInterval},
    {"HSMS", "MaxClients", &Settings::MaxClients},
    {"HSMS", "BridgeSession", &Settings::BridgeSession},
    {"HSMS", "LinktestInterval", &Settings::LinktestInterval},
    {"HSMS", "MaxPartialMB", &Settings::MaxPartialMB},
    {"TimeOut", "T6", &Settings::T6},
    {"TimeOut", "T7", &Settings::T7},
    {"Script", "File", &Settings::ScriptFile},
    {"Script", "MemoryLimitMB", &Settings::ScriptMemoryLimitMB},
    {"TimeOut", "T5", &Settings::T5},
    {"Capture", "CaptureFile", &Settings::CaptureFile},
    {"Api", "Port", &Settings::ApiPort},
    {"Api", "Address", &Settings::ApiAddress},
    {"Api", "TokenFile", &Settings::ApiTokenFile},
    {"Api", "JournalSize", &Settings::ApiJournalSize},
    {"Faults", "File", &Settings::FaultsFile},
    {"Messages", "Size", &Settings::MessagesSize},
}};

const QString kPreferences = QStringLiteral("Preferences");

// The settings named name in section (any section when it is empty), from
// both tables.
QList<const SettingRef*> findSettings(const QString& section, const QString& name) {
    QList<const SettingRef*> found;
    auto scan = [&](const auto& table) {
        for (const SettingRef& ref : table)
            if ((section.isEmpty() || section.compare(QLatin1String(ref.section), Qt::CaseInsensitive) == 0) &&
                name.compare(QLatin1String(ref.name), Qt::CaseInsensitive) == 0)
                found.append(&ref);
    };
    scan(kSettings);
    scan(kReadOnly);
    return found;
}

bool sectionExists(const QString& section) {
    return std::any_of(kSettings.begin(), kSettings.end(),
                       [&](const SettingRef& r) {
                           return section.compare(QLatin1String(r.section), Qt::CaseInsensitive) == 0;
                       }) ||
           std::any_of(kReadOnly.begin(), kReadOnly.end(), [&](const SettingRef& r) {
               return section.compare(QLatin1String(r.section), Qt::CaseInsensitive) == 0;
           });
}

// Stricter than the file: a number must be a whole decimal number, a switch 0 or 1.
bool applyText(Settings& s, const SettingRef& ref, const QString& text) {
    return std::visit(
        [&](auto member) {
            using T = std::remove_cvref_t<decltype(s.*member)>;
            if constexpr (std::is_same_v<T, QString>) {
                s.*member = text;
                return true;
            } else {
                const QByteArray bytes = text.toUtf8();
                const std::optional<std::int32_t> v =
                    text.trimmed() == text ? parseIniInt({bytes.constData(), static_cast<std::size_t>(bytes.size())})
                                           : std::nullopt;
                if (!v)
                    return false;
                if constexpr (std::is_same_v<T, bool>) {
                    if (*v != 0 && *v != 1)
                        return false;
                    s.*member = *v == 1;
                } else {
                    s.*member = *v;
                }
                return true;
            }
        },
        ref.member);
}

bool isOverridden(const QList<SettingOverride>& overrides, const SettingRef& ref) {
    return std::any_of(overrides.begin(), overrides.end(), [&](const SettingOverride& o) {
        return o.section == QLatin1String(ref.section) && o.name == QLatin1String(ref.name);
    });
}

QString detectExecutablePath() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

void readInto(Settings& s, const IniText& ini, const SettingRef& ref) {
    const QString section = QLatin1String(ref.section);
    const QString name = QLatin1String(ref.name);
    std::visit(
        [&](auto member) {
            using T = std::remove_cvref_t<decltype(s.*member)>;
            if constexpr (std::is_same_v<T, QString>)
                s.*member = CHProfileStore::stringValue(ini, section, name);
            else if constexpr (std::is_same_v<T, bool>)
                s.*member = CHProfileStore::intValue(ini, section, name, s.*member ? 1 : 0) != 0;
            else
                s.*member = CHProfileStore::intValue(ini, section, name, s.*member);
        },
        ref.member);
}

} // namespace

CHSettingsFile::CHSettingsFile(QString executablePath, QString userConfigDir)
    : m_executablePath(executablePath.isEmpty() ? detectExecutablePath()
                                                : std::move(executablePath)),
      m_userConfigDir(userConfigDir.isEmpty()
                          ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                          : std::move(userConfigDir)) {
    m_store.setFileName(userSettingsFile());
}

QString CHSettingsFile::userSettingsFile() const {
    QString base = QFileInfo(m_executablePath).fileName();
    if (base.isEmpty())
        base = QStringLiteral("tovik");
    return QDir(m_userConfigDir).filePath(base + QStringLiteral(".ini"));
}

Settings CHSettingsFile::Load() const {
    const IniText ini = m_store.read();
    Settings s;
    for (const SettingRef& ref : kSettings)
        readInto(s, ini, ref);
    for (const SettingRef& ref : kReadOnly)
        readInto(s, ini, ref);
    applyOverrides(s);
    return s;
}

void CHSettingsFile::applyOverrides(Settings& s) const {
    for (const SettingOverride& o : m_overrides)
        if (const SettingRef* ref = findSettings(o.section, o.name).value(0))
            applyText(s, *ref, o.text);
}

std::variant<SettingOverride, QString> CHSettingsFile::ParseOverride(const QString& argument) {
    const qsizetype eq = argument.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return QStringLiteral("--set %1: give SECTION.VALUE=TEXT").arg(argument);
    const QString key = argument.left(eq);
    const qsizetype dot = key.indexOf(QLatin1Char('.'));
    const QString section = dot < 0 ? QString() : key.left(dot);
    const QString name = key.mid(dot + 1);
    if (dot >= 0 && !sectionExists(section))
        return QStringLiteral("--set %1: unknown section [%2]").arg(argument, section);
    const QList<const SettingRef*> found = findSettings(section, name);
    if (found.isEmpty())
        return dot < 0 ? QStringLiteral("--set %1: unknown value %2").arg(argument, name)
                       : QStringLiteral("--set %1: unknown value %2 in [%3]").arg(argument, name, section);
    if (found.size() > 1) {
        QStringList sections;
        for (const SettingRef* ref : found)
            sections.append(QLatin1String(ref->section) + QLatin1Char('.') + QLatin1String(ref->name));
        return QStringLiteral("--set %1: %2 is in more than one section (%3)")
            .arg(argument, name, sections.join(QStringLiteral(", ")));
    }
    const SettingRef& ref = *found.front();
    const QString text = argument.mid(eq + 1);
    Settings scratch;
    if (!applyText(scratch, ref, text))
        return QStringLiteral("--set %1: %2.%3 cannot take '%4' (%5)")
            .arg(argument, QLatin1String(ref.section), QLatin1String(ref.name), text,
                 std::holds_alternative<bool Settings::*>(ref.member) ? QStringLiteral("0 or 1")
                                                                      : QStringLiteral("a whole number"));
    return SettingOverride{QLatin1String(ref.section), QLatin1String(ref.name), text};
}

bool CHSettingsFile::Save(const Settings& s) {
    for (const SettingRef& ref : kSettings) {
        if (isOverridden(m_overrides, ref))
            continue;
        const QString section = QLatin1String(ref.section);
        const QString name = QLatin1String(ref.name);
        const bool ok = std::visit(
            [&](auto member) {
                using T = std::remove_cvref_t<decltype(s.*member)>;
                if constexpr (std::is_same_v<T, QString>)
                    return m_store.WriteProfileString(section, name, s.*member);
                else if constexpr (std::is_same_v<T, bool>)
                    return m_store.WriteProfileInt(section, name, s.*member ? 1 : 0);
                else
                    return m_store.WriteProfileInt(section, name, s.*member);
            },
            ref.member);
        if (!ok)
            return false;
    }
    return true;
}

bool CHSettingsFile::Select(const QString& documentPath) {
    if (documentPath.size() >= 4 &&
        documentPath.endsWith(QStringLiteral("tvkm"), Qt::CaseSensitive)) {
        m_store.setFileName(documentPath.chopped(4) + QStringLiteral("ini"));
        return true;
    }
    if (m_executablePath.size() < 3) {
        m_store.setFileName(userSettingsFile());
        QDir().mkpath(m_userConfigDir);
        return false;
    }
    const QString beside = m_executablePath + QStringLiteral(".ini");
    const QFileInfo info(beside);
    const bool writable = info.exists() ? (info.isFile() && info.isWritable())
                                        : QFileInfo(info.absolutePath()).isWritable();
    if (writable) {
        m_store.setFileName(beside);
    } else {
        m_store.setFileName(userSettingsFile());
        QDir().mkpath(m_userConfigDir);
    }
    return true;
}

QString CHSettingsFile::ReadMruDocument() const {
    return m_store.GetProfileString(kPreferences, QStringLiteral("MRUDocument"));
}

void CHSettingsFile::WriteMruDocument(const QString& path) {
    m_store.WriteProfileString(kPreferences, QStringLiteral("MRUDocument"), path);
}

bool CHSettingsFile::ReadOpenMruDocument() const {
    Settings s;
    s.OpenMruDocument = m_store.GetProfileInt(kPreferences, QStringLiteral("OpenMruDocument"), 1) != 0;
    applyOverrides(s);
    return s.OpenMruDocument;
}

bool CHSettingsFile::ReadSaveWindowPosition() const {
    Settings s;
    s.SaveWindowPosition = m_store.GetProfileInt(kPreferences, QStringLiteral("SaveWindowPosition"), 1) != 0;
    applyOverrides(s);
    return s.SaveWindowPosition;
}

CHSettingsFile::WindowRect CHSettingsFile::ReadWindowRect() const {
    const IniText ini = m_store.read();
    WindowRect r;
    r.left = CHProfileStore::intValue(ini, kPreferences, QStringLiteral("WindowLeft"), -1);
    r.top = CHProfileStore::intValue(ini, kPreferences, QStringLiteral("WindowTop"), -1);
    r.right = CHProfileStore::intValue(ini, kPreferences, QStringLiteral("WindowRight"), -1);
    r.bottom = CHProfileStore::intValue(ini, kPreferences, QStringLiteral("WindowBottom"), -1);
    return r;
}

bool CHSettingsFile::WriteWindowRect(const WindowRect& rect) {
    return m_store.WriteProfileInt(kPreferences, QStringLiteral("WindowLeft"), rect.left) &&
           m_store.WriteProfileInt(kPreferences, QStringLiteral("WindowTop"), rect.top) &&
           m_store.WriteProfileInt(kPreferences, QStringLiteral("WindowRight"), rect.right) &&
           m_store.WriteProfileInt(kPreferences, QStringLiteral("WindowBottom"), rect.bottom);
}

} // namespace tovik
