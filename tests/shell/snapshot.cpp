// Picture of the main window for the documentation: starts Tovik windowed on
// a document, lets a host of ours select and ask S1F1 and S1F13, and saves the
// window as PNG. Given a definition, it also asks S1F3 and shows that
// definition's property page over the window.
//
//   tovik_shell_snapshot DOCUMENT OUT.png [DEFINITION]   (under xvfb-run, or offscreen)
#include "CHAppInstance.h"
#include "CHMsgListView.h"
#include "CMainFrame.h"
#include "CMsgProperty1.h"
#include "COptionSheet.h"
#include "CTovikarApp.h"
#include "CTovikarDoc.h"
#include "CTovikarForm.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 3 && argc != 4) {
        std::fputs("usage: tovik_shell_snapshot DOCUMENT OUT.png [DEFINITION]\n", stderr);
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
    QByteArray frames = QByteArray::fromHex("0000000affff000000010000a001"
                                            "0000000a000081010000000000a2"
                                            "0000000c0000810d0000000000a3"
                                            "0100");
    const std::string definition = argc == 4 ? argv[3] : "";
    if (!definition.empty())
        frames += QByteArray::fromHex("0000000a000081030000000000a4");
    QTimer::singleShot(500, [&] {
        host.connectToHost(QStringLiteral("127.0.0.1"),
                           static_cast<quint16>(app.App().LocalPortNumber));
        QObject::connect(&host, &QTcpSocket::connected, [&] { host.write(frames); });
    });
    QTimer::singleShot(2500, [&] {
        QPixmap picture = app.Frame()->grab();
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
        const bool saved = picture.save(out, "PNG");
        std::fprintf(stderr, "%s %s\n", saved ? "saved" : "could not save", argv[2]);
        QApplication::exit(saved ? 0 : 1);
    });
    return QApplication::exec();
}
