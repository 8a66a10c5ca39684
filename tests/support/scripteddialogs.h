#pragma once

#include "app/userdialogs.h"
#include "ui/qtuserdialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <functional>

// Answers message boxes and folder choices from a script and keeps what was asked. A box the
// script has no answer for gets its default answer and is still recorded.
//
// With realBoxes (set by TAMBREL_TEST_REAL_BOXES, or by a test), every box is a real modal
// QMessageBox: once it is open, whileOpen runs in its event loop and the scripted answer's button
// is clicked with the mouse, so that the box's event loop runs nested in whatever handler opened
// it, as it does for a user.
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
    bool realBoxes = qEnvironmentVariableIsSet("TAMBREL_TEST_REAL_BOXES");

    MessageBox::Answer ask(QObject* owner, const MessageBox& box) override
    {
        asked << box;
        const MessageBox::Answer answer =
            answers.isEmpty() ? box.defaultAnswer : answers.takeFirst();
        if (!realBoxes) {
            if (whileOpen)
                whileOpen();
            return answer;
        }
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, [&] {
            auto* open = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!open)
                return;
            look.stop();
            const QPointer<QMessageBox> guard(open);
            if (whileOpen)
                whileOpen();
            if (guard) {
                QAbstractButton* button = guard->button(QtUserDialogs::buttonFor(answer));
                QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
            }
        });
        look.start(5);
        return QtUserDialogs().ask(owner, box);
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
