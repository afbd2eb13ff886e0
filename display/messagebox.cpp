#include "messagebox.h"

#include <QDebug>

namespace tovik {
namespace {
MessageBoxHandler& handler() {
    static MessageBoxHandler h;
    return h;
}
} // namespace

void showMessageBox(const QString& text, QWidget* parent, const QString& detail) {
    if (handler())
        handler()(parent, text, detail);
    else if (detail.isEmpty())
        qWarning().noquote() << text;
    else
        qWarning().noquote() << text + QStringLiteral(": ") + detail;
}

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler h) {
    MessageBoxHandler old = std::move(handler());
    handler() = std::move(h);
    return old;
}

namespace {
QuestionHandler& questionHandler() {
    static QuestionHandler h;
    return h;
}
} // namespace

bool askYesNo(const QString& text, QWidget* parent, const QString& detail) {
    if (questionHandler())
        return questionHandler()(parent, text, detail);
    qWarning().noquote() << (detail.isEmpty() ? text : text + QStringLiteral(": ") + detail);
    return false;
}

QuestionHandler setQuestionHandler(QuestionHandler h) {
    QuestionHandler old = std::move(questionHandler());
    questionHandler() = std::move(h);
    return old;
}

} // namespace tovik
