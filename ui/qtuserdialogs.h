#pragma once

#include "app/userdialogs.h"

// The dialogs as the user sees them: QMessageBox and the folder picker.
class QtUserDialogs final : public UserDialogs
{
public:
    MessageBox::Answer ask(QObject* owner, const MessageBox& box) override;
    QString chooseFolder(QObject* owner, const QString& title, const QString& start) override;
    void openDocument(QObject* owner, const QString& path) override;
};
