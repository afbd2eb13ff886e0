#pragma once
// The settings file: which one is current, and reading and writing the
// settings in it.
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
#include "CHProfileStore.h"
#include "Settings.h"

#include <QList>
#include <QString>

#include <variant>

namespace tovik {

// A value given on the command line ("--set HSMS.LocalPortNumber=5007"): it
// replaces the file's value for this run and is never written back.
struct SettingOverride {
    QString section; // as the table spells them
    QString name;
    QString text;
    bool operator==(const SettingOverride&) const = default;
};

class CHSettingsFile {
public:
    // Empty arguments: the running executable and the user's configuration
    // folder. Tests pass their own so nothing touches the real ones.
    explicit CHSettingsFile(QString executablePath = {}, QString userConfigDir = {});

    // Every setting; absent or unreadable values keep their defaults.
    Settings Load() const;
    // Writes every setting section by section; stops at the first failed
    // write and returns false, the values after it are not written.
    bool Save(const Settings& settings);
    // Makes the file belonging to documentPath current (empty: the one of the
    // program). False when the program's own path is unknown: then the
    // per-user file is used, and the caller tells the user.
    bool Select(const QString& documentPath);

    // "SECTION.VALUE=TEXT", or "VALUE=TEXT" where no other section has that
    // value; names match as in the file, without regard to case. Any value
    // Load reads can be given. On error, one line naming what is wrong.
    static std::variant<SettingOverride, QString> ParseOverride(const QString& argument);
    // Applied by every Load after the file is read; Save leaves the file's
    // text of these values alone.
    void SetOverrides(QList<SettingOverride> overrides) { m_overrides = std::move(overrides); }
    const QList<SettingOverride>& overrides() const { return m_overrides; }

    const QString& fileName() const { return m_store.fileName(); }
    CHProfileStore& profile() { return m_store; }
    const CHProfileStore& profile() const { return m_store; }

    // ---- Values the start-up and the main frame read straight from the file ----
    QString ReadMruDocument() const;
    void WriteMruDocument(const QString& path);
    bool ReadOpenMruDocument() const;
    bool ReadSaveWindowPosition() const;
    struct WindowRect {
        int left = -1, top = -1, right = -1, bottom = -1;
    };
    WindowRect ReadWindowRect() const;
    // Left, top, right, bottom in that order; stops at the first failed write.
    bool WriteWindowRect(const WindowRect& rect);

    // The per-user settings file (the default, and the fallback).
    QString userSettingsFile() const;
    const QString& executablePath() const { return m_executablePath; }

private:
    void applyOverrides(Settings& settings) const;

    QString m_executablePath;
    QString m_userConfigDir;
    CHProfileStore m_store;
    QList<SettingOverride> m_overrides;
};

} // namespace tovik
