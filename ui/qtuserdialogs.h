#pragma once

#include "app/userdialogs.h"

// The dialogs as the user sees them: QMessageBox and the folder picker.
class QtUserDialogs final : public UserDialogs
{
public:
    MessageBox::Answer ask(QWidget* parent, const MessageBox& box) override;
    QString chooseFolder(QWidget* parent, const QString& title, const QString& start) override;
};
