#pragma once
// tshark's reading of a capture Tovik wrote, for the tests that check its
// pcapng files against a dissector of their own.
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <optional>
#include <vector>

namespace tovik::test {

// The fields asked for of every packet that passes `filter`, with HSMS
// decoded on `ports`: one line per packet, a tab between fields, commas
// between a field's occurrences. Nothing when tshark is not installed.
inline std::optional<QStringList> tshark(const QString& file, const std::vector<int>& ports, const QString& filter,
                                         const QStringList& fields) {
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    if (exe.isEmpty())
        return std::nullopt;
    QStringList args{QStringLiteral("-r"), file, QStringLiteral("-Y"), filter, QStringLiteral("-T"),
                     QStringLiteral("fields"), QStringLiteral("-E"), QStringLiteral("occurrence=a")};
    for (int port : ports)
        args << QStringLiteral("-d") << QStringLiteral("tcp.port==%1,hsms").arg(port);
    for (const QString& f : fields)
        args << QStringLiteral("-e") << f;
    QProcess p;
    p.start(exe, args);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace tovik::test
