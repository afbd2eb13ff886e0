#include "COptionPage.h"

#include "messagebox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <climits>

namespace tovik {

std::optional<int> parseDialogInt(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    const auto blank = [&](qsizetype k) {
        return k < n && (text[k] == QLatin1Char(' ') || text[k] == QLatin1Char('\t'));
    };
    while (blank(i))
        ++i;
    const QChar first = i < n ? text[i] : QChar();
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    long long v = 0;
    const qsizetype digitsStart = i;
    while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
        if (v <= INT_MAX)
            v = v * 10 + (text[i].unicode() - u'0');
        ++i;
    }
    if (i == digitsStart)
        v = 0;
    v = negative ? -v : v;
    if (v > INT_MAX)
        v = INT_MAX;
    if (v < INT_MIN)
        v = INT_MIN;
    // No digits, or a zero that does not start with '0' ("-0", "+0"): refused.
    if (v == 0 && first != QLatin1Char('0'))
        return std::nullopt;
    while (blank(i))
        ++i;
    if (i != n)
        return std::nullopt;
    return static_cast<int>(v);
}

} // namespace tovik

COptionPage::COptionPage(const QString& caption, QWidget* parent)
    : QWidget(parent), m_caption(caption) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(9);
    setFont(font);
    // Dialog units come from the average width of the Latin letters and the
    // line height of the font the pages are drawn in.
    const QFontMetrics fm(font);
    static const QString letters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_avgCharWidth = (fm.horizontalAdvance(letters) / 26 + 1) / 2;
    m_charHeight = fm.height();
    setFixedSize(duRect(0, 0, kWidthDu, kHeightDu).size());
}

QRect COptionPage::duRect(int x, int y, int w, int h) const {
    const auto px = [&](int du) { return du * m_avgCharWidth / 4; };
    const auto py = [&](int du) { return du * m_charHeight / 8; };
    return QRect(px(x), py(y), px(w), py(h));
}

void COptionPage::initialise() {
    if (m_initialised)
        return;
    m_initialised = true;
    initDialog();
}

QCheckBox* COptionPage::addCheck(const QString& text, int x, int y, int w, int h) {
    auto* c = new QCheckBox(text, this);
    c->setGeometry(duRect(x, y, w, h));
    return c;
}

QLabel* COptionPage::addLabel(const QString& text, int x, int y, int w, int h) {
    auto* l = new QLabel(text, this);
    l->setGeometry(duRect(x, y, w, h));
    return l;
}

QLineEdit* COptionPage::addEdit(int x, int y, int w, int h) {
    auto* e = new QLineEdit(this);
    e->setGeometry(duRect(x, y, w, h));
    return e;
}

QComboBox* COptionPage::addCombo(const QStringList& items, int x, int y, int w, int h) {
    auto* c = new QComboBox(this);
    c->addItems(items);
    c->setMaxVisibleItems(12);
    c->setGeometry(duRect(x, y, w, h));
    return c;
}

QGroupBox* COptionPage::addGroup(const QString& text, int x, int y, int w, int h) {
    auto* g = new QGroupBox(text, this);
    g->setGeometry(duRect(x, y, w, h));
    return g;
}

QRadioButton* COptionPage::addRadio(QWidget* group, const QString& text, int x, int y, int w,
                                    int h) {
    auto* r = new QRadioButton(text, group);
    // Positions are given in page units; the button lives in its group.
    r->setGeometry(duRect(x, y, w, h).translated(-group->x(), -group->y()));
    return r;
}

void COptionPage::ddxCheck(bool save, QCheckBox* box, int& value) {
    if (save)
        value = box->isChecked() ? 1 : 0;
    else
        box->setChecked(value != 0);
}

void COptionPage::ddxText(bool save, QLineEdit* edit, QString& value) {
    if (save)
        value = edit->text();
    else
        edit->setText(value);
}

void COptionPage::ddxCombo(bool save, QComboBox* combo, int& index) {
    if (save)
        index = combo->currentIndex();
    else
        combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

bool COptionPage::ddxInt(bool save, QLineEdit* edit, int& value) {
    if (!save) {
        edit->setText(QString::number(value));
        return true;
    }
    const auto v = tovik::parseDialogInt(edit->text());
    if (!v) {
        fail(edit, QStringLiteral("Please enter an integer."));
        return false;
    }
    value = *v;
    return true;
}

bool COptionPage::ddvMinMax(bool save, QLineEdit* edit, int value, int min, int max) {
    if (!save || (value >= min && value <= max))
        return true;
    fail(edit, QStringLiteral("Please enter an integer between %1 and %2.").arg(min).arg(max));
    return false;
}

void COptionPage::fail(QLineEdit* edit, const QString& text) {
    tovik::showMessageBox(text, this);
    edit->setFocus();
    edit->selectAll();
}
