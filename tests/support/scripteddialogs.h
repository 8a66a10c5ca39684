#pragma once

#include "app/userdialogs.h"

#include <QList>
#include <QStringList>

#include <functional>

// Answers message boxes and folder choices from a script and keeps what was asked. A box the
// script has no answer for gets its default answer and is still recorded.
class ScriptedDialogs final : public UserDialogs
{
public:
    QList<MessageBox> asked;
    QList<MessageBox::Answer> answers;
    QStringList folders;
    int folderRequests = 0;
    // The title and start folder of the last folder choice.
    QString folderTitle;
    QString folderStart;

    // Documents opened, in order.
    QStringList documents;

    // Runs while a box is open, as events do under a real modal box.
    std::function<void()> whileOpen;
    // Where set, boxes are real ones shown by these dialogs (and answered by the test as a user
    // would); they are still recorded.
    UserDialogs* real = nullptr;

    MessageBox::Answer ask(QObject* owner, const MessageBox& box) override
    {
        asked << box;
        if (real)
            return real->ask(owner, box);
        if (whileOpen)
            whileOpen();
        return answers.isEmpty() ? box.defaultAnswer : answers.takeFirst();
    }

    QString chooseFolder(QObject*, const QString& title, const QString& start) override
    {
        ++folderRequests;
        folderTitle = title;
        folderStart = start;
        return folders.isEmpty() ? QString() : folders.takeFirst();
    }

    void openDocument(QObject*, const QString& path) override { documents << path; }
};
