#pragma once
// Every message box of Tovik goes through here, so that a test can take the
// text instead of a person pressing OK. The widgets part installs the real box.
#include <QString>

#include <functional>

class QWidget;

namespace tovik {

// detail: what the user needs to act on the text (a file, a line), shown
// below it; empty for most boxes.
using MessageBoxHandler = std::function<void(QWidget* parent, const QString& text, const QString& detail)>;

// Shows text with an OK button and returns when it was dismissed. Without an
// installed handler (no widgets, e.g. a command-line run) the text goes to the
// Qt warning log.
void showMessageBox(const QString& text, QWidget* parent = nullptr, const QString& detail = {});

// Replaces the handler; returns the previous one so a test can restore it.
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);

// A question with Yes and No, answered by the installed handler (true for
// Yes); a test installs its own answer. Without a handler nobody can be
// asked: the text goes to the warning log and the answer is No.
using QuestionHandler = std::function<bool(QWidget* parent, const QString& text, const QString& detail)>;
bool askYesNo(const QString& text, QWidget* parent = nullptr, const QString& detail = {});
QuestionHandler setQuestionHandler(QuestionHandler handler);

} // namespace tovik
