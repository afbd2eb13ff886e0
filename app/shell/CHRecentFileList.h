#pragma once
// The File menu's recent-file list: the newest first, at most four, kept in
// the settings file under [Recent File List] as File1..File4.
#include <QString>
#include <QStringList>

class CHProfileStore;

namespace tovik {

class CHRecentFileList {
public:
    static constexpr int kDefaultSize = 4;
    explicit CHRecentFileList(int size = kDefaultSize) : m_size(size) {}

    // Puts path first (as an absolute, clean path); an entry already in the
    // list moves up instead of appearing twice; the oldest falls off.
    void Add(const QString& path);
    void Remove(int index);
    const QStringList& Files() const { return m_files; }
    int Size() const { return m_size; }

    // Missing or empty entries are skipped, so a hand-edited gap closes up.
    void ReadList(const CHProfileStore& store);
    // Writes every slot (empty ones as empty text); false at the first
    // failed write.
    bool WriteList(CHProfileStore& store) const;

    // The menu text of entry index: "&1 name" with the folder left out when
    // the full path would be too long to read in a menu.
    QString MenuText(int index) const;

private:
    int m_size;
    QStringList m_files;
};

} // namespace tovik
