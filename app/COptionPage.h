#pragma once
// Base of the option pages: controls placed in dialog units of the pages'
// font, and the exchange between controls and the page's copies of the
// settings, with the integer validation and its messages.
#include <QString>
#include <QWidget>

#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace tovik {
// What an integer edit accepts: blanks around an optionally signed decimal
// number; too large a number stands for the nearest 32-bit value. A value of
// zero must be written starting with '0'.
std::optional<int> parseDialogInt(const QString& text);
} // namespace tovik

class COptionPage : public QWidget {
    Q_OBJECT
public:
    // Every page is this size in dialog units.
    static constexpr int kWidthDu = 270;
    static constexpr int kHeightDu = 122;

    COptionPage(const QString& caption, QWidget* parent = nullptr);

    const QString& caption() const { return m_caption; }
    bool isInitialised() const { return m_initialised; }

    // The first time the page is shown: settings into the controls.
    void initialise();
    // Leaving the page (or OK while it is shown): controls into the settings;
    // false after telling the user what is wrong, and the page stays.
    bool killActive() { return exchange(true); }
    // OK on the sheet, for pages that were shown: false keeps the sheet open.
    virtual bool onOK() { return true; }

    // Pixels of a dialog-unit rectangle in the pages' font.
    QRect duRect(int x, int y, int w, int h) const;

protected:
    virtual void initDialog() { exchange(false); }
    // save false: settings to controls; true: controls to settings, validated.
    virtual bool exchange(bool save) = 0;

    QCheckBox* addCheck(const QString& text, int x, int y, int w, int h = 10);
    QLabel* addLabel(const QString& text, int x, int y, int w, int h = 8);
    QLineEdit* addEdit(int x, int y, int w, int h = 12);
    QComboBox* addCombo(const QStringList& items, int x, int y, int w, int h = 12);
    QGroupBox* addGroup(const QString& text, int x, int y, int w, int h);
    QRadioButton* addRadio(QWidget* group, const QString& text, int x, int y, int w, int h = 10);

    static void ddxCheck(bool save, QCheckBox* box, int& value);
    static void ddxText(bool save, QLineEdit* edit, QString& value);
    static void ddxCombo(bool save, QComboBox* combo, int& index);
    bool ddxInt(bool save, QLineEdit* edit, int& value);
    bool ddvMinMax(bool save, QLineEdit* edit, int value, int min, int max);

private:
    void fail(QLineEdit* edit, const QString& text);

    QString m_caption;
    int m_avgCharWidth = 0;
    int m_charHeight = 0;
    bool m_initialised = false;
};
