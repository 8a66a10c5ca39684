#pragma once

#include "app/formmain.h"
#include "scripteddialogs.h"
#include "scriptedgrabber.h"
#include "scriptedplayer.h"
#include "settings/cregister.h"

#include <QCheckBox>
#include <QFile>
#include <QStandardPaths>
#include <QStyleOptionButton>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTreeWidget>

#include <memory>

// What the main window's tests share: a window on a scripted grabber and scripted dialogs, its
// controls found by their names, and a settings store of its own.
class MainWindowTest : public QObject
{
public:
    MainWindowTest()
    {
        // Settings go to Qt's test folder, never to the user's own.
        QStandardPaths::setTestModeEnabled(true);
    }

protected:
    // The grabber belongs to the window; the test keeps a pointer to script it.
    ScriptedGrabber* m_grabber = nullptr;
    ScriptedPlayer* m_player = nullptr;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<FormMain> m_window;

    FormMain& makeWindow(QList<ScriptedGrabber::Drive> drives, QSet<QString> failing = {})
    {
        auto grabber = std::make_unique<ScriptedGrabber>();
        grabber->drives = std::move(drives);
        grabber->failing = std::move(failing);
        m_grabber = grabber.get();
        auto player = std::make_unique<ScriptedPlayer>();
        m_player = player.get();
        m_window = std::make_unique<FormMain>(std::move(grabber), std::move(player), m_dialogs);
        return *m_window;
    }

    // A test starts without answers left over and without stored settings.
    void startAfresh()
    {
        m_dialogs = ScriptedDialogs();
        QFile::remove(CRegister::databasePath());
    }

    // Every scripted answer must have been asked for.
    void closeWindow()
    {
        m_window.reset();
        QVERIFY(m_dialogs.answers.isEmpty());
    }

    template <typename T> T* control(const QString& name) const
    {
        T* widget = m_window->findChild<T*>(name);
        if (!widget)
            qFatal("no control %s", qPrintable(name));
        return widget;
    }

    // A click as the user makes it: the left button pressed and released over the widget (over
    // a check box's box), through the widget's own event handling, not QAbstractButton::click().
    static void userClick(QWidget* widget)
    {
        QPoint at = widget->rect().center();
        if (auto* box = qobject_cast<QCheckBox*>(widget)) {
            QStyleOptionButton option;
            option.initFrom(box);
            at = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box).center();
        }
        QTest::mouseClick(widget, Qt::LeftButton, {}, at);
    }

    // A track row's check box clicked with the mouse.
    void userClickRowCheck(int row) const
    {
        QTreeWidget* list = tracks();
        // Rows have their places on the screen only in a window that is shown.
        if (!list->window()->isVisible()) {
            list->window()->show();
            QVERIFY(QTest::qWaitForWindowExposed(list->window()));
        }
        // A row below the fold is scrolled to first, as the user would.
        list->scrollToItem(list->topLevelItem(row));
        QStyleOptionViewItem option;
        option.initFrom(list->viewport());
        option.rect = list->visualRect(list->model()->index(row, 0));
        option.features |= QStyleOptionViewItem::HasCheckIndicator;
        const QRect box =
            list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          QPoint(box.center().x(), option.rect.center().y()));
    }

    QTreeWidget* tracks() const { return control<QTreeWidget>(QStringLiteral("TrackListView")); }
    bool enabled(const QString& name) const { return control<QWidget>(name)->isEnabled(); }

    static QString setting(const QString& name)
    {
        return CRegister().REGGetSetting(RegRoot::LocalMachine, SettingsPath, name,
                                         QStringLiteral("<none>"));
    }

    static void store(const QString& name, const QString& value)
    {
        QVERIFY(CRegister().REGSaveSetting(RegRoot::LocalMachine, SettingsPath, name, value));
    }
};
