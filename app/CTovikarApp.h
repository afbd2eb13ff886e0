#pragma once
// The application object: the current settings (its own members, named after
// their values in the settings file), the settings file they come from and
// go to, and the file log.
#include "CHFileLog.h"
#include "CHSettingsFile.h"
#include "Settings.h"

#include <QString>

#include <optional>

class CTovikarApp : public tovik::Settings {
public:
    // Empty arguments: the running executable and the user's configuration
    // folder. Tests pass their own so nothing touches the real ones.
    explicit CTovikarApp(QString executablePath = {}, QString userConfigDir = {});
    CTovikarApp(const CTovikarApp&) = delete;
    CTovikarApp& operator=(const CTovikarApp&) = delete;

    tovik::Settings& settings() { return *this; }
    const tovik::Settings& settings() const { return *this; }

    // ---- The settings file ----
    void LoadSettings() { settings() = m_file.Load(); }
    bool SaveSettings() { return m_file.Save(*this); }
    // As CHSettingsFile::Select, telling the user when the program's own path
    // is unknown.
    bool SelectSettingsFile(const QString& documentPath);

    tovik::CHSettingsFile& file() { return m_file; }
    const QString& settingsFileName() const { return m_file.fileName(); }
    CHProfileStore& profile() { return m_file.profile(); }
    const CHProfileStore& profile() const { return m_file.profile(); }
    QString ReadMruDocument() const { return m_file.ReadMruDocument(); }
    bool ReadOpenMruDocument() const { return m_file.ReadOpenMruDocument(); }
    bool ReadSaveWindowPosition() const { return m_file.ReadSaveWindowPosition(); }
    using WindowRect = tovik::CHSettingsFile::WindowRect;
    WindowRect ReadWindowRect() const { return m_file.ReadWindowRect(); }
    bool WriteWindowRect(const WindowRect& rect) { return m_file.WriteWindowRect(rect); }
    QString userSettingsFile() const { return m_file.userSettingsFile(); }
    const QString& executablePath() const { return m_file.executablePath(); }

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

private:
    tovik::CHSettingsFile m_file;
    CHFileLog m_fileLog;
};

// The program's one application object, set by main(); null until then (and
// in tests that do not set it).
CTovikarApp* theApp();
void setTheApp(CTovikarApp* app);

// For the document: the hooks on theApp(), doing nothing without one.
bool OnDocumentOpened(const QString& path, bool opened);
void OnDocumentSaving(const QString& path);
