#include "CHMessageExport.h"

#include "CHApiJson.h"
#include "CHItemTree.h"
#include "CHMessageJournal.h"
#include "hex.h"
#include "pcapng.h"
#include "secsi_block.h"

#include <QDateTime>
#include <QHostAddress>
#include <QSaveFile>

namespace tovik {

namespace {

QByteArray timeText(const CHJournalEntry& e) {
    return QDateTime::fromMSecsSinceEpoch(e.timeMs, Qt::UTC).toString(Qt::ISODateWithMs).toUtf8();
}

// Each message under a comment line that says when, which way and with whom;
// the codec's own SML follows, ended by a dot, so each reads back alone.
// Control messages and undecodable ones carry their hex in the comment.
QByteArray smlText(const CHJournalEntry& e) {
    QByteArray out = "// " + timeText(e) + (e.direction == CHJournalEntry::In ? " in " : " out ") +
                     e.peer.toUtf8() + " device " + QByteArray::number(e.device()) + " system " +
                     QByteArray::number(e.systemBytes());
    const auto withHex = [&](const QByteArray& what) {
        out += ' ' + what + " hex " + QByteArray::fromStdString(toHex(e.bytes)) + "\n\n";
        return out;
    };
    if (!e.hasHeader())
        return withHex("too short");
    if (e.sType() != 0)
        return withHex("control sType " + QByteArray::number(e.sType()));
    CHScriptCodec codec;
    codec.SetMessage(e.bytes.data(), e.bytes.size());
    if (!codec.GetLastError().empty())
        return withHex("undecodable (" + QByteArray::fromStdString(codec.GetLastError()) + ")");
    out += '\n' + QByteArray::fromStdString(codec.GetSmlText()) + "\n.\n\n";
    return out;
}

capture::Endpoint peerEndpoint(const QString& peer) {
    const qsizetype colon = peer.lastIndexOf(QLatin1Char(':'));
    return {QHostAddress(peer.left(colon)).toIPv4Address(), static_cast<std::uint16_t>(peer.mid(colon + 1).toUInt())};
}

bool writeCapture(const std::vector<const CHJournalEntry*>& entries, const QString& path, QString* error,
                  ExportLink link) {
    capture::PcapngWriter writer;
    std::string why;
    if (!writer.open(path.toStdString(), why)) {
        *error = QString::fromStdString(why);
        return false;
    }
    for (const CHJournalEntry* e : entries) {
        const std::int64_t micros = e->timeMs * 1000;
        const bool received = e->direction == CHJournalEntry::In;
        if (e->port == 0) { // SECS-I: the blocks the line carried
            if (e->bytes.size() < secsi::kHeaderSize || e->bytes.size() > secsi::kMaxMessageSize)
                continue;
            const bool rBit = (e->bytes[0] & 0x80) != 0;
            for (std::uint32_t i = 0, n = secsi::blockCount(e->bytes.size()); i < n; ++i) {
                const std::vector<std::uint8_t> block = secsi::frameBlock(e->bytes, i, rBit);
                writer.secsBlock(received, block.data(), block.size(), micros);
            }
            continue;
        }
        const capture::Endpoint peer = peerEndpoint(e->peer);
        const capture::Endpoint tovik{link.address, link.port};
        const auto size = static_cast<std::uint32_t>(e->bytes.size());
        std::vector<std::uint8_t> frame{std::uint8_t(size >> 24), std::uint8_t(size >> 16), std::uint8_t(size >> 8),
                                        std::uint8_t(size)};
        frame.insert(frame.end(), e->bytes.begin(), e->bytes.end());
        // The side that connected is the TCP client.
        const capture::Endpoint& client = link.passive ? peer : tovik;
        const capture::Endpoint& server = link.passive ? tovik : peer;
        writer.tcp(client, server, received == link.passive, frame.data(), frame.size(), micros);
    }
    writer.close();
    return true;
}

} // namespace

bool ExportMessages(const std::vector<const CHJournalEntry*>& entries, ExportFormat format, const QString& path,
                    QString* error, ExportLink link) {
    QString ignored;
    if (!error)
        error = &ignored;
    if (format == ExportFormat::Pcapng)
        return writeCapture(entries, path, error, link);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    for (const CHJournalEntry* e : entries)
        file.write(format == ExportFormat::Sml ? smlText(*e) : JournalEntryText(*e) + '\n');
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace tovik
