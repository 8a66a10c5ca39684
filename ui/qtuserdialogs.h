#pragma once

#include "app/userdialogs.h"

#include <QMessageBox>

// The dialogs as the user sees them: QMessageBox and the folder picker.
class QtUserDialogs final : public UserDialogs
{
public:
    MessageBox::Answer ask(QObject* owner, const MessageBox& box) override;
    QString chooseFolder(QObject* owner, const QString& title, const QString& start) override;
    void openDocument(QObject* owner, const QString& path) override;

    // The message box's button that gives the answer.
    static QMessageBox::StandardButton buttonFor(MessageBox::Answer answer);
};
