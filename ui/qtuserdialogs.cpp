#include "ui/qtuserdialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

#include <utility>

namespace
{

using Answer = MessageBox::Answer;

constexpr std::pair<Answer, QMessageBox::StandardButton> buttonOf[] = {
    {Answer::Ok, QMessageBox::Ok},       {Answer::Cancel, QMessageBox::Cancel},
    {Answer::Yes, QMessageBox::Yes},     {Answer::No, QMessageBox::No},
    {Answer::Retry, QMessageBox::Retry},
};

QMessageBox::StandardButtons toButtons(MessageBox::Buttons buttons)
{
    switch (buttons) {
    case MessageBox::Buttons::Ok:
        return QMessageBox::Ok;
    case MessageBox::Buttons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageBox::Buttons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case MessageBox::Buttons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MessageBox::Buttons::RetryCancel:
        return QMessageBox::Retry | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon toIcon(MessageBox::Icon icon)
{
    switch (icon) {
    case MessageBox::Icon::None:
        return QMessageBox::NoIcon;
    case MessageBox::Icon::Information:
        return QMessageBox::Information;
    case MessageBox::Icon::Question:
        return QMessageBox::Question;
    case MessageBox::Icon::Warning:
        return QMessageBox::Warning;
    case MessageBox::Icon::Critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

} // namespace

QMessageBox::StandardButton QtUserDialogs::buttonFor(MessageBox::Answer answer)
{
    for (const auto& [a, b] : buttonOf) {
        if (a == answer)
            return b;
    }
    return QMessageBox::NoButton;
}

MessageBox::Answer QtUserDialogs::ask(QObject* owner, const MessageBox& box)
{
    auto* parent = qobject_cast<QWidget*>(owner);
    QMessageBox dialog(toIcon(box.icon), box.title, box.text, toButtons(box.buttons), parent);
    dialog.setDefaultButton(buttonFor(box.defaultAnswer));
    const int pressed = dialog.exec();
    for (const auto& [answer, button] : buttonOf) {
        if (button == pressed)
            return answer;
    }
    // Closing the box with Escape or its title bar: the gentlest answer it offers.
    switch (box.buttons) {
    case MessageBox::Buttons::YesNo:
        return Answer::No;
    case MessageBox::Buttons::Ok:
        return Answer::Ok;
    default:
        return Answer::Cancel;
    }
}

QString QtUserDialogs::chooseFolder(QObject* owner, const QString& title, const QString& start)
{
    return QFileDialog::getExistingDirectory(qobject_cast<QWidget*>(owner), title, start);
}

void QtUserDialogs::openDocument(QObject*, const QString& path)
{
    // The desktop's handler tells the user itself when it can't open the file.
    (void)QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
