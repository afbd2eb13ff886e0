#pragma once
// The "Message" page of the message property sheet: name, type, comment and
// text of one definition. Changing the type converts the text between hex
// dump and SML through the codec.
#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTabWidget;

namespace tovik {

class CHVeltSecsII;

class CMsgProperty1 : public QWidget {
    Q_OBJECT
public:
    explicit CMsgProperty1(QWidget* parent = nullptr);
    ~CMsgProperty1() override;

    // Stored forms: texts with CR LF line ends, as the document keeps them.
    std::string m_strMsgText;
    int m_nMsgType = -1; // 0 "Message HEX Dump", 1 "ASCII Message Structure"
    std::string m_strMsgName;
    std::string m_strMsgComment;
    CHVeltSecsII* m_pCodec = nullptr;

    // true: controls into members; false: members into controls.
    void UpdateData(bool save);
    void OnSelchangeMsgType();
    // Shows under the text what the codec makes of it; runs shortly after
    // each change of the text or the type. It never blocks OK.
    void UpdateVerdict();

    QLineEdit* NameEdit() const { return m_name; }
    QComboBox* TypeList() const { return m_type; }
    QPlainTextEdit* CommentEdit() const { return m_comment; }
    QPlainTextEdit* TextEdit() const { return m_text; }
    QLabel* VerdictLabel() const { return m_verdict; }

private:
    QLineEdit* m_name;
    QComboBox* m_type;
    QPlainTextEdit* m_comment;
    QPlainTextEdit* m_text;
    QLabel* m_verdict;
    QTimer m_verdictTimer;
    // Its own codec: judging what is typed disturbs no other user's state.
    std::unique_ptr<CHVeltSecsII> m_verdictCodec;
    bool m_filling = false;
};

// The sheet titled "Message Property" holding one page, with OK and Cancel.
class CMsgPropertySheet : public QDialog {
    Q_OBJECT
public:
    explicit CMsgPropertySheet(QWidget* parent = nullptr);
    CMsgProperty1& Page() const { return *m_page; }

    // Shows the sheet modally: members into controls, and on OK controls
    // into members. True when closed with OK.
    bool DoModal();

    // Tests replace the person in front of the sheet: the runner gets the
    // filled sheet and returns whether OK was pressed. Returns the previous one.
    using Runner = std::function<bool(CMsgPropertySheet&)>;
    static Runner SetRunner(Runner runner);

private:
    QTabWidget* m_tabs;
    CMsgProperty1* m_page;
};

} // namespace tovik
