#pragma once
// The application object: every user setting lives here as a member named
// after its value in the settings file, and every part of Tovik reads it from
// here. It also owns the choice of settings file and the file log.
//
// Where the settings file lives on Linux:
//  - beside a document: "line.tvkm" -> "line.ini" (the ending "tvkm" is
//    matched case-sensitively; any other document name counts as none);
//  - without a document: the executable's full path followed by ".ini"
//    (/opt/tovik/bin/tovik -> /opt/tovik/bin/tovik.ini) when that file or,
//    failing that, the program's folder is writable; otherwise
//    <user configuration folder>/<executable name>.ini
//    (~/.config/tovik.ini);
//  - before any choice is made (started without a document): that per-user
//    file, the program's default settings file.
#include "CHFileLog.h"
#include "CHProfileStore.h"

#include <QString>

#include <optional>

class CTovikarApp {
public:
    // Empty arguments: the running executable and the user's configuration
    // folder. Tests pass their own so nothing touches the real ones.
    explicit CTovikarApp(QString executablePath = {}, QString userConfigDir = {});
    CTovikarApp(const CTovikarApp&) = delete;
    CTovikarApp& operator=(const CTovikarApp&) = delete;

    // ---- The settings, in their declared order; the constructor gives them
    // their defaults (the table in CTovikarApp.cpp) ----
    int Protocol{}; // 0 HSMS, 1 SECS, 2 MSEC, 3 HSMS=SECS
    int DeviceID{};
    bool CheckDeviceID{};
    bool Hide{};
    bool Server{};
    QString IPAddress;
    int PortNumber{};
    int LocalPortNumber{};
    bool DisconnectAtSeparateReq{};
    bool SendSelectReqAtConnect{};
    bool ShowMsgHeader{};
    bool ShowMsgBody{};
    bool ShowDateTime{};
    bool ShowConnection{};
    bool SaveWindowPosition{};
    bool OpenMruDocument{};
    int T1{};
    int T2{};
    int T3{};
    int T4{};
    int T8{};
    int CommPort{};
    int BaudRate{};
    int Retry{};
    bool Master{};
    bool EnableLog{};
    QString LogFileName;
    int LogFileSize{};
    int LogBakCount{};
    bool LogVerbose{};
    bool InvokeEvent{};
    int EventStream{};
    int EventFunction{};
    static constexpr int kSettingCount = 33;

    // Not one of the settings above: read by LoadSettings from SECS/DevicePath
    // and never written. When set, the SECS-I driver opens this serial device
    // (or "tcp:HOST:PORT") instead of the port numbered by CommPort.
    QString DevicePath;
    // Not a setting either: Script/File, read by LoadSettings and never
    // written. The reply script to load, relative to the document's folder.
    QString ScriptFile;

    // Extra values in the same way: read by LoadSettings, never written,
    // their defaults keeping the behaviour without them (README, "Extra
    // settings values").
    int MaxClients{};       // HSMS/MaxClients: hosts served at once in passive mode
    bool BridgeSession{};   // HSMS/BridgeSession: the bridge answers the host's control messages
    int LinktestInterval{}; // HSMS/LinktestInterval: seconds of silence before a linktest, 0 off
    int T6{};               // TimeOut/T6: control transaction reply, milliseconds, 0 off
    int T7{};               // TimeOut/T7: passive link never selected, milliseconds, 0 off

    // ---- The settings file ----
    // Reads every setting; absent or unreadable values keep their defaults.
    void LoadSettings();
    // Writes every setting section by section; stops at the first failed
    // write and returns false, the values after it are not written.
    bool SaveSettings();
    // Makes the file belonging to documentPath the settings file (empty: the
    // one of the program). False when the program's own path is unknown: then
    // the per-user file is used and the user is told.
    bool SelectSettingsFile(const QString& documentPath);

    const QString& settingsFileName() const { return m_store.fileName(); }
    CHProfileStore& profile() { return m_store; }
    const CHProfileStore& profile() const { return m_store; }

    // ---- Values the start-up and the main frame read straight from the file ----
    QString ReadMruDocument() const;
    bool ReadOpenMruDocument() const;
    bool ReadSaveWindowPosition() const;
    struct WindowRect {
        int left = -1, top = -1, right = -1, bottom = -1;
    };
    WindowRect ReadWindowRect() const;
    // Left, top, right, bottom in that order; stops at the first failed write.
    bool WriteWindowRect(const WindowRect& rect);

    // ---- The document's hooks ----
    // After an open: records path as the last document when the open
    // succeeded. Returns opened.
    bool OnDocumentOpened(const QString& path, bool opened);
    // Before the document is written to path: records path as the last
    // document in the current settings file, then makes the document's own
    // settings file current and saves every setting there. Failures here do
    // not stop the document's save.
    void OnDocumentSaving(const QString& path);

    // ---- The file log ----
    // The file the log goes to: LogFileName, or else the settings file's name
    // with its last three characters replaced by "log".
    QString logFilePath() const;
    // Called for every text the event log adds. Writes nothing unless
    // EnableLog is on; returns a line for the event log when the log file
    // cannot be written (once per failure, not per line).
    std::optional<QString> WriteLog(const QString& text);

    // The per-user settings file (the default, and the fallback).
    QString userSettingsFile() const;
    const QString& executablePath() const { return m_executablePath; }

private:
    template <class M> void assign(M member, int value);

    QString m_executablePath;
    QString m_userConfigDir;
    CHProfileStore m_store;
    CHFileLog m_fileLog;
};

// The program's one application object, set by main(); null until then (and
// in tests that do not set it).
CTovikarApp* theApp();
void setTheApp(CTovikarApp* app);

// For the document: the hooks on theApp(), doing nothing without one.
bool OnDocumentOpened(const QString& path, bool opened);
void OnDocumentSaving(const QString& path);
