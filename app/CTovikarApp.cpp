#include "CTovikarApp.h"

#include "messagebox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <array>
#include <variant>

namespace {

struct SettingRef {
    const char* section;
    const char* name;
    std::variant<int CTovikarApp::*, bool CTovikarApp::*, QString CTovikarApp::*> member;
    int defaultValue; // 0 or 1 for bool settings; strings default to empty
};

// Load and save order: section by section. The one place of the defaults.
const std::array<SettingRef, CTovikarApp::kSettingCount> kSettings{{
    {"Preferences", "Protocol", &CTovikarApp::Protocol, 0},
    {"Preferences", "SaveWindowPosition", &CTovikarApp::SaveWindowPosition, 1},
    {"Preferences", "OpenMruDocument", &CTovikarApp::OpenMruDocument, 1},
    {"Preferences", "DeviceID", &CTovikarApp::DeviceID, 0},
    {"Preferences", "CheckDeviceID", &CTovikarApp::CheckDeviceID, 1},
    {"Preferences", "Hide", &CTovikarApp::Hide, 0},
    {"HSMS", "Server", &CTovikarApp::Server, 0},
    {"HSMS", "IPAddress", &CTovikarApp::IPAddress, 0},
    {"HSMS", "PortNumber", &CTovikarApp::PortNumber, 0},
    {"HSMS", "LocalPortNumber", &CTovikarApp::LocalPortNumber, 0},
    {"HSMS", "DisconnectAtSeparateReq", &CTovikarApp::DisconnectAtSeparateReq, 1},
    {"HSMS", "SendSelectReqAtConnect", &CTovikarApp::SendSelectReqAtConnect, 1},
    {"Info", "ShowMsgHeader", &CTovikarApp::ShowMsgHeader, 1},
    {"Info", "ShowMsgBody", &CTovikarApp::ShowMsgBody, 1},
    {"Info", "ShowDateTime", &CTovikarApp::ShowDateTime, 1},
    {"Info", "ShowConnection", &CTovikarApp::ShowConnection, 1},
    {"TimeOut", "T1", &CTovikarApp::T1, 500},
    {"TimeOut", "T2", &CTovikarApp::T2, 5000},
    {"TimeOut", "T3", &CTovikarApp::T3, 45000},
    {"TimeOut", "T4", &CTovikarApp::T4, 45000},
    {"TimeOut", "T8", &CTovikarApp::T8, 10000},
    {"SECS", "CommPort", &CTovikarApp::CommPort, 1},
    {"SECS", "BaudRate", &CTovikarApp::BaudRate, 9600},
    {"SECS", "Retry", &CTovikarApp::Retry, 3},
    {"SECS", "Master", &CTovikarApp::Master, 1},
    {"Log", "EnableLog", &CTovikarApp::EnableLog, 0},
    {"Log", "LogFileName", &CTovikarApp::LogFileName, 0},
    {"Log", "LogFileSize", &CTovikarApp::LogFileSize, 1024},
    {"Log", "LogBakCount", &CTovikarApp::LogBakCount, 1},
    {"Log", "LogVerbose", &CTovikarApp::LogVerbose, 0},
    {"Event", "InvokeEvent", &CTovikarApp::InvokeEvent, 0},
    {"Event", "EventStream", &CTovikarApp::EventStream, 99},
    {"Event", "EventFunction", &CTovikarApp::EventFunction, 99},
}};

// Values read at start and never written by SaveSettings; the one place of
// their defaults.
struct ExtraRef {
    const char* section;
    const char* name;
    std::variant<int CTovikarApp::*, bool CTovikarApp::*> member;
    int defaultValue;
};
const std::array<ExtraRef, 5> kExtras{{
    {"HSMS", "MaxClients", &CTovikarApp::MaxClients, 16},
    {"HSMS", "BridgeSession", &CTovikarApp::BridgeSession, 0},
    {"HSMS", "LinktestInterval", &CTovikarApp::LinktestInterval, 0},
    {"TimeOut", "T6", &CTovikarApp::T6, 5000},
    {"TimeOut", "T7", &CTovikarApp::T7, 10000},
}};

const QString kPreferences = QStringLiteral("Preferences");

QString detectExecutablePath() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

CTovikarApp* g_app = nullptr;

} // namespace

CTovikarApp::CTovikarApp(QString executablePath, QString userConfigDir)
    : m_executablePath(executablePath.isEmpty() ? detectExecutablePath()
                                                : std::move(executablePath)),
      m_userConfigDir(userConfigDir.isEmpty()
                          ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                          : std::move(userConfigDir)) {
    m_store.setFileName(userSettingsFile());
    for (const SettingRef& s : kSettings)
        std::visit([&](auto member) { assign(member, s.defaultValue); }, s.member);
    for (const ExtraRef& e : kExtras)
        std::visit([&](auto member) { assign(member, e.defaultValue); }, e.member);
}

template <class M> void CTovikarApp::assign(M member, int value) {
    using T = std::remove_reference_t<decltype(this->*member)>;
    if constexpr (std::is_same_v<T, QString>)
        (this->*member).clear();
    else if constexpr (std::is_same_v<T, bool>)
        this->*member = value != 0;
    else
        this->*member = value;
}

QString CTovikarApp::userSettingsFile() const {
    QString base = QFileInfo(m_executablePath).fileName();
    if (base.isEmpty())
        base = QStringLiteral("tovik");
    return QDir(m_userConfigDir).filePath(base + QStringLiteral(".ini"));
}

void CTovikarApp::LoadSettings() {
    const tovik::IniText ini = m_store.read();
    for (const SettingRef& s : kSettings) {
        const QString section = QLatin1String(s.section);
        const QString name = QLatin1String(s.name);
        std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(this->*member)>;
                if constexpr (std::is_same_v<T, QString>)
                    this->*member = CHProfileStore::stringValue(ini, section, name, QString());
                else
                    assign(member, CHProfileStore::intValue(ini, section, name, s.defaultValue));
            },
            s.member);
    }
    DevicePath =
        CHProfileStore::stringValue(ini, QStringLiteral("SECS"), QStringLiteral("DevicePath"));
    for (const ExtraRef& e : kExtras)
        std::visit(
            [&](auto member) {
                assign(member, CHProfileStore::intValue(ini, QLatin1String(e.section),
                                                        QLatin1String(e.name), e.defaultValue));
            },
            e.member);
    ScriptFile =
        CHProfileStore::stringValue(ini, QStringLiteral("Script"), QStringLiteral("File"));
}

bool CTovikarApp::SaveSettings() {
    for (const SettingRef& s : kSettings) {
        const QString section = QLatin1String(s.section);
        const QString name = QLatin1String(s.name);
        const bool ok = std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(this->*member)>;
                if constexpr (std::is_same_v<T, QString>)
                    return m_store.WriteProfileString(section, name, this->*member);
                else if constexpr (std::is_same_v<T, bool>)
                    return m_store.WriteProfileInt(section, name, this->*member ? 1 : 0);
                else
                    return m_store.WriteProfileInt(section, name, this->*member);
            },
            s.member);
        if (!ok)
            return false;
    }
    return true;
}

bool CTovikarApp::SelectSettingsFile(const QString& documentPath) {
    if (documentPath.size() >= 4 &&
        documentPath.endsWith(QStringLiteral("tvkm"), Qt::CaseSensitive)) {
        m_store.setFileName(documentPath.chopped(4) + QStringLiteral("ini"));
        return true;
    }
    if (m_executablePath.size() < 3) {
        m_store.setFileName(userSettingsFile());
        QDir().mkpath(m_userConfigDir);
        tovik::showMessageBox(QStringLiteral("Error : File path name is incorrect!"));
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

QString CTovikarApp::ReadMruDocument() const {
    return m_store.GetProfileString(kPreferences, QStringLiteral("MRUDocument"));
}

bool CTovikarApp::ReadOpenMruDocument() const {
    return m_store.GetProfileInt(kPreferences, QStringLiteral("OpenMruDocument"), 1) != 0;
}

bool CTovikarApp::ReadSaveWindowPosition() const {
    return m_store.GetProfileInt(kPreferences, QStringLiteral("SaveWindowPosition"), 1) != 0;
}

CTovikarApp::WindowRect CTovikarApp::ReadWindowRect() const {
    const tovik::IniText ini = m_store.read();
    WindowRect r;
    r.left = CHProfileStore::intValue(ini, kPreferences, QStringLiteral("WindowLeft"), -1);
    r.top = CHProfileStore::intValue(ini, kPreferences, QStringLiteral("WindowTop"), -1);
    r.right = CHProfileStore::intValue(ini, kPreferences, QStringLiteral("WindowRight"), -1);
    r.bottom = CHProfileStore::intValue(ini, kPreferences, QStringLiteral("WindowBottom"), -1);
    return r;
}

bool CTovikarApp::WriteWindowRect(const WindowRect& rect) {
    return m_store.WriteProfileInt(kPreferences, QStringLiteral("WindowLeft"), rect.left) &&
           m_store.WriteProfileInt(kPreferences, QStringLiteral("WindowTop"), rect.top) &&
           m_store.WriteProfileInt(kPreferences, QStringLiteral("WindowRight"), rect.right) &&
           m_store.WriteProfileInt(kPreferences, QStringLiteral("WindowBottom"), rect.bottom);
}

bool CTovikarApp::OnDocumentOpened(const QString& path, bool opened) {
    if (opened)
        m_store.WriteProfileString(kPreferences, QStringLiteral("MRUDocument"), path);
    return opened;
}

void CTovikarApp::OnDocumentSaving(const QString& path) {
    m_store.WriteProfileString(kPreferences, QStringLiteral("MRUDocument"), path);
    SelectSettingsFile(path);
    SaveSettings();
}

QString CTovikarApp::logFilePath() const {
    if (!LogFileName.isEmpty())
        return LogFileName;
    const QString& settings = m_store.fileName();
    if (settings.size() < 3)
        return {};
    return settings.chopped(3) + QStringLiteral("log");
}

std::optional<QString> CTovikarApp::WriteLog(const QString& text) {
    if (!EnableLog) {
        m_fileLog.close();
        return std::nullopt;
    }
    return m_fileLog.append(CHFileLog::Config{logFilePath(), LogFileSize, LogBakCount}, text);
}

CTovikarApp* theApp() {
    return g_app;
}
void setTheApp(CTovikarApp* app) {
    g_app = app;
}

bool OnDocumentOpened(const QString& path, bool opened) {
    if (CTovikarApp* app = theApp())
        return app->OnDocumentOpened(path, opened);
    return opened;
}

void OnDocumentSaving(const QString& path) {
    if (CTovikarApp* app = theApp())
        app->OnDocumentSaving(path);
}
