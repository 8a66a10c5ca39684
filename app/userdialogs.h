#pragma once

#include <QString>

class QObject;

// A question or message for the user, described the way message boxes are.
struct MessageBox {
    enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
    enum class Icon { None, Information, Question, Warning, Critical };
    enum class Answer { Ok, Cancel, Yes, No, Retry };

    QString text;
    QString title;
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
    Answer defaultAnswer = Answer::Ok;
};

// Every message box, folder choice and opened document of the windows goes through this interface,
// so that tests answer them by script and never block on a modal dialog. The owner is the window
// the dialog belongs to; the interface needs no widget, so the batch and other widget-free code use
// it too.
class UserDialogs
{
public:
    virtual ~UserDialogs() = default;

    virtual MessageBox::Answer ask(QObject* owner, const MessageBox& box) = 0;
    // The chosen folder, or an empty text when the user cancelled.
    virtual QString chooseFolder(QObject* owner, const QString& title, const QString& start) = 0;
    // Opens a file with the desktop's default program for it. A missing file or program is
    // not reported.
    virtual void openDocument(QObject* owner, const QString& path) = 0;
};
