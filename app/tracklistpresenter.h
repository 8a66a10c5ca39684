#pragma once

#include <Qt>

#include <functional>

class CdGrabber;
class QMenu;
class QPoint;
class QString;
class QTreeWidget;
class QTreeWidgetItem;

// The track list as the user works it, on the list and the menu it is given: one row per track
// with its tag, name, type, duration and percent; the check boxes, locked while a track is
// grabbed; a click that makes the row's track the grabber's current one; the menu that checks or
// unchecks every row. The batch reads and marks the rows through it, counted from 0 in list
// order.
class TrackListPresenter
{
public:
    // Column of each track row's texts.
    enum Column { ColumnCheck, ColumnName, ColumnType, ColumnDuration, ColumnPercent };
    // The item data role that holds a row's tag.
    static constexpr int TagRole = Qt::UserRole;
    // The check state the row last showed the user.
    static constexpr int ShownCheckRole = Qt::UserRole + 1;

    // locked says whether a track is being grabbed: checks are undone and clicks ignored then.
    TrackListPresenter(QTreeWidget& list, QMenu& menu, CdGrabber& grabber,
                       std::function<bool()> locked);

    // Empties the list; no row is current.
    void clear();
    // Adds the grabber's current track as a row for its place on the disc, unchecked at 0%.
    void InsertTrackInfoToTrackListView(int IndSession, int IndTrack);
    // The first row becomes current and selected, once the disc has been listed.
    void selectFirstRow();

    // Whether a change of the row's column is the user's change of its box, not the program's
    // and not a change of another column (the percent, say).
    bool isUserCheck(const QTreeWidgetItem* row, int column) const;
    // The user checked or unchecked the row: it becomes the selected row, or, while a track is
    // grabbed, the change is undone at once.
    void itemChecked(QTreeWidgetItem* row);
    // The clicked row's track becomes the grabber's current one, but not while a track is grabbed.
    void itemClicked(QTreeWidgetItem* row) const;
    // The check-all menu at a position of the list's viewport.
    void showMenu(const QPoint& position) const;
    void setEveryRowChecked(Qt::CheckState state);
    // Sets a row's box as the program's own change: no click handling follows.
    void setRowChecked(QTreeWidgetItem* row, Qt::CheckState state);

    // The row progress is written to; the batch moves it along the checked rows.
    QTreeWidgetItem* currentItem() const { return CurrentItem; }
    int rowCount() const;
    // The row's tag: disc session index * 100 + track index.
    int rowTag(int row) const;
    QString rowName(int row) const;
    bool rowChecked(int row) const;
    void makeCurrentRow(int row);
    // Selects the row and scrolls it into view.
    void selectRow(int row) const;
    void setCurrentRowPercent(const QString& text) const;

private:
    QTreeWidget& m_list;
    QMenu& m_menu;
    CdGrabber& m_grabber;
    std::function<bool()> m_locked;
    QTreeWidgetItem* CurrentItem = nullptr;
    // The program is setting check boxes itself: no click handling.
    bool m_settingChecks = false;
};
