#include "messagebox.h"

#include <QDebug>

namespace tovik {
namespace {
MessageBoxHandler& handler() {
    static MessageBoxHandler h;
    return h;
}
} // namespace

void showMessageBox(const QString& text, QWidget* parent) {
    if (handler())
        handler()(parent, text);
    else
        qWarning().noquote() << text;
}

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler h) {
    MessageBoxHandler old = std::move(handler());
    handler() = std::move(h);
    return old;
}

} // namespace tovik
