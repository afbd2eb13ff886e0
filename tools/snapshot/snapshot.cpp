// Picture of the main window for the documentation: starts Tovik windowed on
// a document, lets a host of ours select and ask S1F1 and S1F13, and saves the
// window as PNG. Given a definition, it also asks S1F3 and shows that
// definition's property page over the window.
//
//   tovik_shell_snapshot DOCUMENT OUT.png [DEFINITION | --flood | --wide | --messages]   (under xvfb-run, or offscreen)
//
// With --wide the window is larger, room for the script's Equipment dock.
// With --messages it is as large, the Messages dock is shown, the host also
// asks S1F3, S2F13 and S2F41, and the S1F14 row is selected.
// With --flood the host instead keeps 16 S1F1 W outstanding from a thread of
// its own for the whole run, and on a display the picture is taken from the
// screen: what the window painted while the log followed the flood.
#include "CHAppInstance.h"
#include "CHMessageView.h"
#include "CHMsgListView.h"
#include "CMainFrame.h"
#include "CMsgProperty1.h"
#include "COptionSheet.h"
#include "CTovikarApp.h"
#include "CTovikarDoc.h"
#include "CTovikarForm.h"

#include <QApplication>
#include <QDockWidget>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

// Select.req, then S1F1 W with 16 always outstanding, until `stop` or the
// socket (left in `socket`) is shut down; blocking sockets, so the flood does
// not wait for the window's event loop.
void flood(int port, const std::atomic<bool>& stop, std::atomic<int>& socket) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    socket = fd;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        return;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const auto send = [fd](const QByteArray& hex) {
        const QByteArray f = QByteArray::fromHex(hex);
        return ::send(fd, f.constData(), static_cast<size_t>(f.size()), MSG_NOSIGNAL) == f.size();
    };
    // Counts whole frames read; replies are not inspected.
    QByteArray in;
    const auto readFrame = [&] {
        char buf[4096];
        while (in.size() < 4 || in.size() < 4 + qFromBigEndian<quint32>(in.constData())) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            in.append(buf, n);
        }
        in.remove(0, 4 + static_cast<qsizetype>(qFromBigEndian<quint32>(in.constData())));
        return true;
    };
    bool ok = send("0000000affff000000010000a001") && readFrame();
    quint32 system = 0x100;
    for (int i = 0; ok && i < 16; ++i)
        ok = send("0000000a00008101000000000" + QByteArray::number(++system, 16).rightJustified(3, '0'));
    while (ok && !stop) {
        ok = readFrame() &&
             send("0000000a0000810100000" + QByteArray::number(++system, 16).rightJustified(7, '0'));
    }
}

} // namespace

int main(int argc, char* argv[]) {
    const bool flooded = argc == 4 && std::strcmp(argv[3], "--flood") == 0;
    const bool messages = argc == 4 && std::strcmp(argv[3], "--messages") == 0;
    const bool wide = messages || (argc == 4 && std::strcmp(argv[3], "--wide") == 0);
    if (argc != 3 && argc != 4) {
        std::fputs("usage: tovik_shell_snapshot DOCUMENT OUT.png [DEFINITION | --flood | --wide | --messages]\n",
                   stderr);
        return 2;
    }
    QApplication qapp(argc, argv);
    tovik::installWidgetMessageBoxes();
    tovik::CHStartOptions options;
    options.documentPath = QString::fromLocal8Bit(argv[1]);
    options.windowed = true;
    tovik::CHAppInstance app(options);
    if (!app.InitInstance())
        return 1;
    if (wide)
        app.Frame()->setGeometry(20, 20, 1240, 900);
    else
        app.Frame()->setGeometry(60, 60, 760, 560);
    const QString out = QString::fromLocal8Bit(argv[2]);

    QTcpSocket host;
    // Select.req, then S1F1 W and S1F13 W with an empty list, as a host opens.
    QByteArray frames = QByteArray::fromHex("0000000affff000000010000a001"
                                            "0000000a000081010000000000a2"
                                            "0000000c0000810d0000000000a3"
                                            "0100");
    const std::string definition = argc == 4 && !flooded && !wide ? argv[3] : "";
    if (!definition.empty())
        frames += QByteArray::fromHex("0000000a000081030000000000a4");
    if (messages) {
        app.Frame()->MessagesDock()->show();
        // S1F3 W <l 0>, S2F13 W <l 0>, S2F41 W <l <a'START'> <l 0>>.
        frames += QByteArray::fromHex("0000000c000081030000000000a40100"
                                      "0000000c0000820d0000000000a50100"
                                      "00000015000082290000000000a6010241055354415254" "0100");
    }
    std::atomic<bool> stop = false;
    std::atomic<int> floodSocket = -1;
    std::thread flooder;
    QTimer::singleShot(500, [&] {
        if (flooded) {
            flooder = std::thread(flood, app.App().LocalPortNumber, std::cref(stop), std::ref(floodSocket));
            return;
        }
        host.connectToHost(QStringLiteral("127.0.0.1"),
                           static_cast<quint16>(app.App().LocalPortNumber));
        QObject::connect(&host, &QTcpSocket::connected, [&] { host.write(frames); });
    });
    QTimer::singleShot(2500, [&] {
        // Under a flood the screen itself, where there is one: what was painted.
        QPixmap picture =
            flooded && QGuiApplication::platformName() == QStringLiteral("xcb")
                ? app.Frame()->screen()->grabWindow(0, app.Frame()->frameGeometry().x(),
                                                    app.Frame()->frameGeometry().y(),
                                                    app.Frame()->frameGeometry().width(),
                                                    app.Frame()->frameGeometry().height())
                : app.Frame()->grab();
        stop = true;
        if (const tovik::CHOneMsg* msg = app.Doc().FindByName(definition)) {
            tovik::CHMsgListView& list = app.Frame()->Form().MessageList();
            list.SelectRow(list.RowOf(msg));
            tovik::CMsgPropertySheet sheet(app.Frame());
            tovik::CMsgProperty1& page = sheet.Page();
            page.m_strMsgName = msg->m_strName;
            page.m_nMsgType = msg->m_bStructure ? 1 : 0;
            page.m_strMsgText = msg->m_strText;
            page.m_strMsgComment = msg->m_strComment;
            page.UpdateData(false);
            sheet.show();
            QApplication::processEvents();
            picture = app.Frame()->grab();
            QPainter p(&picture);
            p.drawPixmap(picture.width() - sheet.width() - 12, 12, sheet.grab());
        }
        if (messages) {
            tovik::CHMessageView& view = app.Frame()->MessageView();
            view.Model().CatchUp();
            for (int row = 0; row < view.Model().rowCount(); ++row)
                if (view.Model().EntryAt(row)->direction == tovik::CHJournalEntry::Out &&
                    tovik::CHMessageModel::MessageText(*view.Model().EntryAt(row)) == QLatin1String("S1F14"))
                    view.SelectRow(row);
            QApplication::processEvents();
            picture = app.Frame()->grab();
        }
        const bool saved = picture.save(out, "PNG");
        std::fprintf(stderr, "%s %s\n", saved ? "saved" : "could not save", argv[2]);
        QApplication::exit(saved ? 0 : 1);
    });
    const int code = QApplication::exec();
    if (flooder.joinable()) {
        ::shutdown(floodSocket, SHUT_RDWR); // the window answers no more
        flooder.join();
        ::close(floodSocket);
    }
    return code;
}
