#pragma once
// The About box: the program's icon, its version and an OK button.
#include <QDialog>

namespace tovik {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    // The version line of the box; the build's own version (tovik
    // --version) is in the text below it.
    static QString VersionText();
};

} // namespace tovik
