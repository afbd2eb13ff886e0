// Picture of the main window for the documentation: starts Tovik windowed on
// a document, lets a host of ours select and ask S1F1 and S1F13, and saves the
// window as PNG.
//
//   tovik_shell_snapshot DOCUMENT OUT.png     (under xvfb-run, or offscreen)
#include "CHAppInstance.h"
#include "CMainFrame.h"
#include "COptionSheet.h"
#include "CTovikarApp.h"

#include <QApplication>
#include <QPixmap>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fputs("usage: tovik_shell_snapshot DOCUMENT OUT.png\n", stderr);
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
    app.Frame()->setGeometry(60, 60, 760, 560);
    const QString out = QString::fromLocal8Bit(argv[2]);

    QTcpSocket host;
    // Select.req, then S1F1 W and S1F13 W with an empty list, as a host opens.
    const QByteArray frames = QByteArray::fromHex("0000000affff000000010000a001"
                                                  "0000000a000081010000000000a2"
                                                  "0000000c0000810d0000000000a3"
                                                  "0100");
    QTimer::singleShot(500, [&] {
        host.connectToHost(QStringLiteral("127.0.0.1"),
                           static_cast<quint16>(app.App().LocalPortNumber));
        QObject::connect(&host, &QTcpSocket::connected, [&] { host.write(frames); });
    });
    QTimer::singleShot(2500, [&] {
        const bool saved = app.Frame()->grab().save(out, "PNG");
        std::fprintf(stderr, "%s %s\n", saved ? "saved" : "could not save", argv[2]);
        QApplication::exit(saved ? 0 : 1);
    });
    return QApplication::exec();
}
