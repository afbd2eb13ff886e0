#include "CMsgProperty1.h"

#include "CHMsgEdit.h"
#include "CHVeltSecsII.h"

#include <messagebox.h>
#include "qbytetext.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTabWidget>
#include <QVBoxLayout>

namespace tovik {

namespace {

// The edits show LF line ends; the document keeps CR LF. Bytes that are
// not UTF-8 travel through the edit as characters of their own.
QString toEdit(const std::string& stored) {
    QString s = TextFromBytes(stored);
    s.remove(QLatin1Char('\r'));
    return s;
}

// The document's text as the user sees it; unlike toPlainText() it keeps
// no-break spaces as they are.
QString shownText(const QPlainTextEdit* edit) {
    QString s = edit->document()->toRawText();
    s.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return s;
}

// An edit whose text still shows the member unchanged keeps the member's
// exact bytes, so confirming an untouched page changes nothing.
void readEdit(const QPlainTextEdit* edit, std::string& member) {
    const QString shown = shownText(edit);
    if (shown != toEdit(member))
        member = CrLfLines(BytesFromText(shown));
}

QPlainTextEdit* makeMultiLine(QWidget* parent) {
    auto* e = new QPlainTextEdit(parent);
    e->setLineWrapMode(QPlainTextEdit::NoWrap);
    e->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    e->setTabChangesFocus(false);
    return e;
}

CMsgPropertySheet::Runner& runner() {
    static CMsgPropertySheet::Runner r;
    return r;
}

} // namespace

CMsgProperty1::CMsgProperty1(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Message"));
    m_name = new QLineEdit(this);
    m_type = new QComboBox(this);
    m_type->addItem(QStringLiteral("Message HEX Dump"));
    m_type->addItem(QStringLiteral("ASCII Message Structure"));
    m_comment = makeMultiLine(this);
    m_text = makeMultiLine(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Name"), this));
    layout->addWidget(m_name);
    layout->addWidget(new QLabel(QStringLiteral("Message Type"), this));
    layout->addWidget(m_type);
    layout->addWidget(new QLabel(QStringLiteral("Comment:"), this));
    layout->addWidget(m_comment, 1);
    layout->addWidget(new QLabel(QStringLiteral("Message String:"), this));
    layout->addWidget(m_text, 3);
    m_verdict = new QLabel(this);
    m_verdict->setObjectName(QStringLiteral("verdict"));
    m_verdict->setWordWrap(true);
    m_verdict->setTextFormat(Qt::PlainText);
    m_verdict->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_verdict);

    m_verdictCodec = std::make_unique<CHVeltSecsII>();
    // A long text is not parsed again at every key stroke.
    m_verdictTimer.setSingleShot(true);
    m_verdictTimer.setInterval(150);
    connect(&m_verdictTimer, &QTimer::timeout, this, &CMsgProperty1::UpdateVerdict);
    connect(m_text, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_filling)
            m_verdictTimer.start();
    });
    connect(m_type, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_filling)
            OnSelchangeMsgType();
        m_verdictTimer.start();
    });
}

CMsgProperty1::~CMsgProperty1() = default;

void CMsgProperty1::UpdateVerdict() {
    m_verdictTimer.stop();
    std::string text = m_strMsgText;
    readEdit(m_text, text);
    bool loads = false;
    const std::string verdict = MessageVerdict(text, m_type->currentIndex(), *m_verdictCodec, loads);
    m_verdict->setText(TextFromBytes(verdict));
    m_verdict->setProperty("loads", loads);
}

void CMsgProperty1::UpdateData(bool save) {
    if (save) {
        readEdit(m_text, m_strMsgText);
        m_nMsgType = m_type->currentIndex();
        if (m_name->text() != TextFromBytes(m_strMsgName))
            m_strMsgName = BytesFromText(m_name->text());
        readEdit(m_comment, m_strMsgComment);
        return;
    }
    m_filling = true;
    m_text->setPlainText(toEdit(m_strMsgText));
    m_type->setCurrentIndex(m_nMsgType);
    m_name->setText(TextFromBytes(m_strMsgName));
    m_comment->setPlainText(toEdit(m_strMsgComment));
    m_filling = false;
    UpdateVerdict();
}

void CMsgProperty1::OnSelchangeMsgType() {
    const int before = m_nMsgType;
    UpdateData(true);
    if (m_pCodec == nullptr)
        return;
    std::string error;
    if (!ConvertMessageText(m_strMsgText, before, m_nMsgType, *m_pCodec, error)) {
        // The text stays as it was under the newly chosen type.
        showMessageBox(TextFromBytes(error), this);
        return;
    }
    UpdateData(false);
}

CMsgPropertySheet::CMsgPropertySheet(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Message Property"));
    m_tabs = new QTabWidget(this);
    m_page = new CMsgProperty1(m_tabs);
    m_tabs->addTab(m_page, QStringLiteral("Message"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
    // The page's template is 203 x 185 dialog units.
    const QFontMetrics fm(font());
    const int du = fm.averageCharWidth();
    resize(203 * du / 4 + 40, 185 * fm.height() / 8 + 80);
}

bool CMsgPropertySheet::DoModal() {
    m_page->UpdateData(false);
    const bool ok = runner() ? runner()(*this) : exec() == QDialog::Accepted;
    if (ok)
        m_page->UpdateData(true);
    return ok;
}

CMsgPropertySheet::Runner CMsgPropertySheet::SetRunner(Runner r) {
    Runner old = std::move(runner());
    runner() = std::move(r);
    return old;
}

} // namespace tovik
