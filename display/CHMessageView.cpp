#include "CHMessageView.h"

#include "CHItemTree.h"
#include "CHMsgEdit.h"
#include "CMsgProperty1.h"
#include "CTovikarDoc.h"
#include "CTovikarView.h"
#include "hex.h"
#include "message.h"
#include "qbytetext.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tovik {

namespace {

// A 16 MiB message would give a tree nobody reads and a long wait.
constexpr int kMaxTreeItems = 5000;
constexpr std::size_t kMaxValues = 64;

QString valueText(const secs2::Message& msg, const secs2::Item& it) {
    const uint8_t* data = msg.data.data() + it.offset;
    if (secs2::isTextFormat(it.format)) // 8-bit text shows as names do in the window
        return QLatin1Char('\'') + TextFromBytes(std::string_view(reinterpret_cast<const char*>(data), it.size)) +
               QLatin1Char('\'');
    if (it.format == secs2::Format::Unicode) {
        QString text;
        for (uint32_t i = 0; i + 1 < it.size; i += 2)
            text += QChar(static_cast<char16_t>((data[i] << 8) | data[i + 1]));
        return QLatin1Char('"') + text + QLatin1Char('"');
    }
    const std::size_t size = secs2::elementSize(it.format);
    const std::size_t count = size ? it.size / size : 0;
    QStringList values;
    for (std::size_t i = 0; i < count && i < kMaxValues; ++i)
        values << (it.format == secs2::Format::Binary
                       ? QStringLiteral("0x%1").arg(data[i], 2, 16, QLatin1Char('0'))
                       : QString::fromStdString(secs2::elementText(msg, it, i)));
    if (count > kMaxValues)
        values << QStringLiteral("... (%1 more)").arg(count - kMaxValues);
    return values.join(QLatin1Char(' '));
}

int itemCount(const secs2::Item& it) {
    if (it.format == secs2::Format::List || secs2::isTextFormat(it.format))
        return static_cast<int>(it.size);
    if (it.format == secs2::Format::Unicode)
        return static_cast<int>(it.size / 2);
    const std::size_t size = secs2::elementSize(it.format);
    return size ? static_cast<int>(it.size / size) : 0;
}

// Adds the item at `index` and its descendants; returns the item made.
QTreeWidgetItem* addItem(const secs2::Message& msg, std::size_t index, QTreeWidgetItem* parent, int& budget) {
    const secs2::Item& it = msg.items[index];
    auto* node = new QTreeWidgetItem(parent);
    const QString format = it.format == secs2::Format::Boolean
                               ? QStringLiteral("BOOLEAN")
                               : QString::fromLatin1(secs2::smlCode(it.format)).toUpper();
    node->setText(0, format);
    node->setText(1, QString::number(itemCount(it)));
    if (it.format != secs2::Format::List)
        node->setText(2, valueText(msg, it));
    if (--budget <= 0)
        return node;
    if (it.format == secs2::Format::List) {
        std::size_t child = index + 1;
        for (uint32_t i = 0; i < it.size && child < msg.items.size() && budget > 0; ++i) {
            addItem(msg, child, node, budget);
            child = msg.items[child].end;
        }
    }
    return node;
}

// "address:port" of an HSMS peer, as the journal writes it.
bool splitPeer(const QString& peer, QString& address, int& port) {
    const qsizetype colon = peer.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    port = peer.mid(colon + 1).toInt(&ok);
    address = peer.left(colon);
    return colon > 0 && ok;
}

} // namespace

CHMessageView::CHMessageView(CTovikarView& view, QWidget* parent) : QWidget(parent), m_view(view) {
    setObjectName(QStringLiteral("MessageView"));
    view.Journal().SetRecording(true);
    m_model = new CHMessageModel(view.Journal(), this);

    m_pattern = new QLineEdit(this);
    m_pattern->setPlaceholderText(QStringLiteral("S,F (S6F*)"));
    m_pattern->setAccessibleName(QStringLiteral("Message filter"));
    m_direction = new QComboBox(this);
    m_direction->addItems({QStringLiteral("Both ways"), QStringLiteral("\u2190 Received"), QStringLiteral("\u2192 Sent")});
    m_direction->setAccessibleName(QStringLiteral("Direction filter"));
    m_host = new QLineEdit(this);
    m_host->setPlaceholderText(QStringLiteral("Host"));
    m_host->setAccessibleName(QStringLiteral("Host filter"));
    m_text = new QLineEdit(this);
    m_text->setPlaceholderText(QStringLiteral("SML contains"));
    m_text->setAccessibleName(QStringLiteral("SML text filter"));
    m_count = new QLabel(this);
    m_count->setAccessibleName(QStringLiteral("Message count"));
    m_pause = new QPushButton(QStringLiteral("Pause"), this);
    m_pause->setCheckable(true);
    m_pause->setToolTip(QStringLiteral("Freeze the view while messages keep being recorded (space bar)"));

    auto* filters = new QHBoxLayout;
    filters->addWidget(m_pattern, 2);
    filters->addWidget(m_direction, 1);
    filters->addWidget(m_host, 2);
    filters->addWidget(m_text, 3);
    filters->addWidget(m_count, 2);
    filters->addWidget(m_pause);

    m_table = new QTableView(this);
    m_table->setModel(m_model);
    m_table->setAccessibleName(QStringLiteral("Messages"));
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 4);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_table->installEventFilter(this);

    m_origin = new QLabel(this);
    m_origin->setWordWrap(true);
    m_origin->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_origin->setAccessibleName(QStringLiteral("Produced by"));
    m_tree = new QTreeWidget(this);
    m_tree->setHeaderLabels({QStringLiteral("Format"), QStringLiteral("Count"), QStringLiteral("Value")});
    m_tree->setAccessibleName(QStringLiteral("Message items"));
    m_smlHex = new QPlainTextEdit(this);
    m_smlHex->setReadOnly(true);
    m_smlHex->setAccessibleName(QStringLiteral("SML and hex"));
    m_smlHex->setFont(QFont(QStringLiteral("monospace")));

    auto* detail = new QWidget(this);
    auto* detailLayout = new QVBoxLayout(detail);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    detailLayout->addWidget(m_origin);
    auto* texts = new QSplitter(Qt::Horizontal, detail);
    texts->addWidget(m_tree);
    texts->addWidget(m_smlHex);
    detailLayout->addWidget(texts, 1);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_table);
    split->addWidget(detail);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addLayout(filters);
    layout->addWidget(split, 1);

    m_rowActions = {
        rowAction(QStringLiteral("&Resend"), QStringLiteral("Send the message again as a new primary"),
                  [this](const CHJournalEntry& e) { Resend(e); }),
        rowAction(QStringLiteral("&Edit and Send..."), QStringLiteral("Edit the message in its property page, then send it"),
                  [this](const CHJournalEntry& e) { EditAndSend(e); }),
        rowAction(QStringLiteral("Save as &Definition"), QStringLiteral("Add the message to the document"),
                  [this](const CHJournalEntry& e) { SaveAsDefinition(e); }),
        rowAction(QStringLiteral("Copy as &SML"), QStringLiteral("Copy the message's SML text"), [this](const CHJournalEntry& e) { CopyAsSml(e); }),
        rowAction(QStringLiteral("Copy as &hex"), QStringLiteral("Copy the message's bytes as hex"), [this](const CHJournalEntry& e) { CopyAsHex(e); }),
    };

    for (QLineEdit* edit : {m_pattern, m_host, m_text})
        connect(edit, &QLineEdit::textChanged, this, &CHMessageView::applyFilter);
    connect(m_direction, &QComboBox::currentIndexChanged, this, &CHMessageView::applyFilter);
    connect(m_pause, &QPushButton::toggled, this, [this](bool paused) {
        m_model->SetPaused(paused);
        m_pause->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    });
    connect(m_model, &CHMessageModel::CountChanged, this, [this](int shown, int kept) {
        m_count->setText(QStringLiteral("%1 of %2 messages%3")
                             .arg(shown)
                             .arg(kept)
                             .arg(m_model->Paused() ? QStringLiteral(", paused") : QString()));
    });
    // The newest row stays in sight unless the reader scrolled away from it.
    connect(m_model, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] {
        const QScrollBar* bar = m_table->verticalScrollBar();
        m_follow = bar->value() >= bar->maximum();
    });
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first) {
        if (first == 0) // the columns fit the first rows once; then they stay as the user sets them
            m_table->resizeColumnsToContents();
        if (m_follow)
            m_table->scrollToBottom();
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &CHMessageView::showSelected);
    connect(m_model, &QAbstractItemModel::modelReset, this, &CHMessageView::showSelected);
    applyFilter();
}

QAction* CHMessageView::rowAction(const QString& text, const QString& tip,
                                  std::function<void(const CHJournalEntry&)> run) {
    auto* action = new QAction(text, this);
    action->setStatusTip(tip);
    connect(action, &QAction::triggered, this, [this, run = std::move(run)] {
        if (const CHJournalEntry* e = SelectedEntry())
            run(*e);
    });
    m_table->addAction(action);
    return action;
}

bool CHMessageView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_table && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space) {
        m_pause->toggle();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void CHMessageView::applyFilter() {
    CHMessageModel::Filter f;
    f.pattern = m_pattern->text();
    f.direction = m_direction->currentIndex() - 1;
    f.host = m_host->text();
    f.text = m_text->text();
    m_model->SetFilter(f);
    // A pattern that is none says so, in colour and in words.
    m_pattern->setStyleSheet(m_model->PatternValid() ? QString() : QStringLiteral("background: #ffc8c8"));
    m_pattern->setToolTip(m_model->PatternValid() ? QString()
                                                  : QStringLiteral("Not a message pattern (S1F1, S6F*, S*F* or *)"));
    m_table->scrollToBottom();
}

const CHJournalEntry* CHMessageView::SelectedEntry() const {
    return m_model->EntryAt(m_table->currentIndex().row());
}

void CHMessageView::SelectRow(int row) {
    m_table->setCurrentIndex(m_model->index(row, 0));
}

void CHMessageView::updateActions() {
    const CHJournalEntry* e = SelectedEntry();
    const bool dataMessage = e && e->hasHeader() && !e->isControl();
    for (QAction* a : m_rowActions)
        a->setEnabled(dataMessage || (e && a == m_rowActions.back()));
}

void CHMessageView::showSelected() {
    const CHJournalEntry* e = SelectedEntry();
    m_model->SetSelectedId(e ? e->id : 0);
    updateActions();
    m_tree->clear();
    if (!e) {
        m_origin->clear();
        m_smlHex->clear();
        return;
    }
    QString origin = CHMessageModel::OriginText(*e);
    if (e->latencyUs >= 0)
        origin += QStringLiteral("; reply after %1 ms").arg(e->latencyUs / 1000.0, 0, 'f', 3);
    m_origin->setText(origin);
    m_smlHex->setPlainText(CHMessageModel::SmlText(*e) + QStringLiteral("\n\n") + CHMessageModel::HexText(*e));
    if (!e->hasHeader() || e->isControl())
        return;
    CHScriptCodec codec;
    codec.SetMessage(e->bytes.data(), e->bytes.size());
    const secs2::Message& msg = codec.message();
    if (!codec.GetLastError().empty() || msg.items.empty())
        return;
    int budget = kMaxTreeItems;
    m_tree->addTopLevelItem(addItem(msg, 0, nullptr, budget));
    m_tree->expandAll();
    m_tree->resizeColumnToContents(0);
}

quint64 CHMessageView::send(const CHJournalEntry& e, bool structure, const std::string& name,
                            const std::string& text) {
    CHOneMsg def;
    def.m_strName = name;
    def.m_bStructure = structure;
    def.m_strText = text;
    // Among several hosts, it goes to the one of the row.
    QString address;
    int port = 0;
    if (e.port == CTovikarView::PortHsms && m_view.GetSettings().Server && splitPeer(e.peer, address, port)) {
        m_view.Hsms().SetRemoteAddress(address);
        m_view.Hsms().SetRemotePort(port);
    }
    m_view.SetSendOrigin(CHJournalEntry::Origin::User);
    return m_view.SendDefinition(def, e.port);
}

quint64 CHMessageView::Resend(const CHJournalEntry& e) {
    return send(e, false, {}, toHex(e.bytes.data(), e.bytes.size()));
}

quint64 CHMessageView::EditAndSend(const CHJournalEntry& e) {
    CMsgPropertySheet sheet(this);
    CMsgProperty1& page = sheet.Page();
    page.m_strMsgName = BytesFromText(CHMessageModel::MessageText(e));
    page.m_nMsgType = 1;
    page.m_strMsgText = CrLfLines(BytesFromText(CHMessageModel::SmlText(e)));
    page.m_pCodec = &m_view.ScratchCodec();
    if (!sheet.DoModal())
        return 0;
    return send(e, page.m_nMsgType != 0, page.m_strMsgName, page.m_strMsgText);
}

QString CHMessageView::SaveAsDefinition(const CHJournalEntry& e) {
    CTovikarDoc& doc = m_view.Document();
    const QString base = QStringLiteral("S%1F%2 #").arg(e.stream()).arg(e.function());
    int n = 1;
    while (doc.FindByName(BytesFromText(base + QString::number(n))))
        ++n;
    auto def = std::make_unique<CHOneMsg>();
    const QString name = base + QString::number(n);
    ApplyEntries(*def, CHMsgEntries{BytesFromText(name), 1, CrLfLines(BytesFromText(CHMessageModel::SmlText(e))), {}},
                 m_view.ScratchCodec());
    doc.AddMessage(std::move(def));
    doc.NoteEdited(); // modified, and the message list is rebuilt
    return name;
}

void CHMessageView::CopyAsSml(const CHJournalEntry& e) const {
    QGuiApplication::clipboard()->setText(CHMessageModel::SmlText(e));
}

void CHMessageView::CopyAsHex(const CHJournalEntry& e) const {
    QGuiApplication::clipboard()->setText(CHMessageModel::HexText(e));
}

} // namespace tovik
