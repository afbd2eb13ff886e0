#include "CHRecentFileList.h"

#include "CHProfileStore.h"

#include <QDir>
#include <QFileInfo>

namespace tovik {

namespace {
const QString kSection = QStringLiteral("Recent File List");
QString entryName(int i) {
    return QStringLiteral("File%1").arg(i + 1);
}
constexpr int kMenuPathLength = 60;
} // namespace

void CHRecentFileList::Add(const QString& path) {
    if (path.isEmpty())
        return;
    const QString full = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    m_files.removeAll(full);
    m_files.prepend(full);
    while (m_files.size() > m_size)
        m_files.removeLast();
}

void CHRecentFileList::Remove(int index) {
    if (index >= 0 && index < m_files.size())
        m_files.removeAt(index);
}

void CHRecentFileList::ReadList(const CHProfileStore& store) {
    m_files.clear();
    const IniText ini = store.read();
    for (int i = 0; i < m_size; ++i) {
        const QString file = CHProfileStore::stringValue(ini, kSection, entryName(i));
        if (!file.isEmpty() && !m_files.contains(file))
            m_files.append(file);
    }
}

bool CHRecentFileList::WriteList(CHProfileStore& store) const {
    for (int i = 0; i < m_size; ++i) {
        if (!store.WriteProfileString(kSection, entryName(i),
                                      i < m_files.size() ? m_files[i] : QString()))
            return false;
    }
    return true;
}

QString CHRecentFileList::MenuText(int index) const {
    if (index < 0 || index >= m_files.size())
        return {};
    QString shown = m_files[index];
    if (shown.size() > kMenuPathLength)
        shown = QStringLiteral("...") + QDir::separator() + QFileInfo(shown).fileName();
    // A literal & in a file name must not become a mnemonic.
    shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return QStringLiteral("&%1 %2").arg(index + 1).arg(shown);
}

} // namespace tovik
