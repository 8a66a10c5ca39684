#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QTimer>

// Answers the real message boxes the program opens, as a user does: a timer looks for the active
// modal QMessageBox, and its answer's button is clicked with the mouse (press and release). The
// box's own event loop runs meanwhile, nested in whatever handler opened it.
class RealBoxAnswerer : public QObject
{
public:
    QList<QMessageBox::StandardButton> answers;
    QStringList seen; // the texts of the boxes answered, in order

    RealBoxAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, &RealBoxAnswerer::look);
        m_timer.start(10);
    }

private:
    void look()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box == m_answered)
            return;
        m_answered = box;
        seen << box->text();
        // A box the test did not expect is closed, and the test sees it among those answered.
        if (answers.isEmpty()) {
            box->reject();
            return;
        }
        QAbstractButton* button = box->button(answers.takeFirst());
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    }

    QTimer m_timer;
    QPointer<QMessageBox> m_answered;
};
