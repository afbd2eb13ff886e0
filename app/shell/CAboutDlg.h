#pragma once
// The About box: the program's icon, its version and an OK button.
#include <QDialog>

namespace tovik {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    // "Tovik Version " and the version the program was built as.
    static QString VersionText();
};

} // namespace tovik
