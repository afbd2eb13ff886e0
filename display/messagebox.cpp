#include "messagebox.h"

#include <QDebug>

namespace tovik {
namespace {

// The installed handler of each kind (none until the widgets part or a test
// installs one).
template <class Handler> Handler& installed() {
    static Handler h;
    return h;
}

template <class Handler> Handler replace(Handler h) {
    Handler old = std::move(installed<Handler>());
    installed<Handler>() = std::move(h);
    return old;
}

// Nobody to show it to: the text goes to the Qt warning log.
void warn(const QString& text, const QString& detail) {
    qWarning().noquote() << (detail.isEmpty() ? text : text + QStringLiteral(": ") + detail);
}

} // namespace

void showMessageBox(const QString& text, QWidget* parent, const QString& detail) {
    if (const MessageBoxHandler& show = installed<MessageBoxHandler>())
        show(parent, text, detail);
    else
        warn(text, detail);
}

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler h) {
    return replace(std::move(h));
}

bool askYesNo(const QString& text, QWidget* parent, const QString& detail) {
    if (const QuestionHandler& ask = installed<QuestionHandler>())
        return ask(parent, text, detail);
    warn(text, detail);
    return false;
}

QuestionHandler setQuestionHandler(QuestionHandler h) {
    return replace(std::move(h));
}

} // namespace tovik
