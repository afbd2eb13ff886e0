#pragma once
// One settings file on disk, read and written value by value. Every write
// reads the file, changes that one value and replaces the file, so a failure
// is known at the value that caused it and everything before it is kept.
#include "initext.h"

#include <QString>

class CHProfileStore {
public:
    CHProfileStore() = default;
    explicit CHProfileStore(QString fileName) : m_fileName(std::move(fileName)) {}

    const QString& fileName() const { return m_fileName; }
    void setFileName(const QString& fileName) { m_fileName = fileName; }

    // The whole file as it is now; missing, unreadable or oversized files read
    // as empty, so every lookup falls back to its default.
    tovik::IniText read() const;

    int GetProfileInt(const QString& section, const QString& name, int defaultValue) const;
    QString GetProfileString(const QString& section, const QString& name,
                             const QString& defaultValue = {}) const;

    // False when the value could not be stored: no file name, an existing file
    // that cannot be read back whole or is not writable, a folder that refuses
    // the new file, a full disk, or a value with a line break.
    bool WriteProfileInt(const QString& section, const QString& name, int value);
    bool WriteProfileString(const QString& section, const QString& name, const QString& value);

    // Typed lookups over a text already read, for callers reading many values.
    static int intValue(const tovik::IniText& ini, const QString& section, const QString& name,
                        int defaultValue);
    static QString stringValue(const tovik::IniText& ini, const QString& section,
                               const QString& name, const QString& defaultValue = {});

private:
    QString m_fileName;
};
