#include "CAboutDlg.h"

#include "tovik_version.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>

namespace tovik {

QString CAboutDlg::VersionText() {
    return QStringLiteral("Tovik Version " TOVIK_VERSION_STRING);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Tovik"));
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/shell/icons/tovik.svg")).pixmap(48, 48, QIcon::Normal));
    icon->setAlignment(Qt::AlignTop);

    auto* version = new QLabel(VersionText(), this);
    version->setObjectName(QStringLiteral("version"));
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = version->font();
    bold.setBold(true);
    version->setFont(bold);
    auto* about = new QLabel(QStringLiteral("An HSMS/SECS simulator: plays one side of a SECS-II "
                                            "conversation over HSMS (TCP/IP) or SECS-I (serial).\n"
                                            "Built with Qt %1.")
                                 .arg(QLatin1String(QT_VERSION_STR)),
                             this);
    about->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->addWidget(icon, 0, 0, 2, 1);
    grid->addWidget(version, 0, 1);
    grid->addWidget(about, 1, 1);
    grid->addWidget(buttons, 0, 2, 2, 1, Qt::AlignTop);
    grid->setColumnStretch(1, 1);
    setMinimumWidth(380);
}

} // namespace tovik
