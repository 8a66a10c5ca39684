#include "app/tracklistpresenter.h"

#include "app/disctext.h"
#include "components/cdgrabber.h"

#include <QAction>
#include <QMenu>
#include <QScopedValueRollback>
#include <QTreeWidget>

TrackListPresenter::TrackListPresenter(QTreeWidget& list, QMenu& menu, CdGrabber& grabber,
                                       std::function<bool()> locked)
    : m_list(list), m_menu(menu), m_grabber(grabber), m_locked(std::move(locked))
{
}

void TrackListPresenter::clear()
{
    m_list.clear();
    CurrentItem = nullptr;
}

void TrackListPresenter::InsertTrackInfoToTrackListView(int IndSession, int IndTrack)
{
    auto* row = new QTreeWidgetItem(&m_list);
    row->setData(ColumnCheck, TagRole, disctext::trackTag(IndSession, IndTrack));
    setRowChecked(row, Qt::Unchecked);
    row->setText(ColumnName, disctext::trackName(IndSession, IndTrack));
    row->setText(ColumnType, disctext::trackTypeText(m_grabber.TrackType()));
    row->setText(ColumnDuration,
                 disctext::durationText(m_grabber.TrackMinutes(), m_grabber.TrackSeconds(),
                                        m_grabber.TrackFraction()));
    row->setText(ColumnPercent, QStringLiteral("0%"));
    m_list.scrollToItem(row);
}

void TrackListPresenter::selectFirstRow()
{
    if (m_list.topLevelItemCount() == 0)
        return;
    CurrentItem = m_list.topLevelItem(0);
    m_list.setCurrentItem(CurrentItem);
    m_list.scrollToItem(CurrentItem);
}

void TrackListPresenter::setRowChecked(QTreeWidgetItem* row, Qt::CheckState state)
{
    // The state the user last saw is kept beside the check box, so that a change of another
    // column (the percent, say) is not taken for a click on the box.
    const QScopedValueRollback quiet(m_settingChecks, true);
    row->setCheckState(ColumnCheck, state);
    row->setData(ColumnCheck, ShownCheckRole, int(state));
}

bool TrackListPresenter::isUserCheck(const QTreeWidgetItem* row, int column) const
{
    return !m_settingChecks && column == ColumnCheck &&
           row->data(ColumnCheck, ShownCheckRole).toInt() != int(row->checkState(ColumnCheck));
}

void TrackListPresenter::itemChecked(QTreeWidgetItem* row)
{
    // Checks are locked while a track is grabbed: the change is undone at once.
    if (m_locked()) {
        setRowChecked(row,
                      row->checkState(ColumnCheck) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        return;
    }
    row->setData(ColumnCheck, ShownCheckRole, int(row->checkState(ColumnCheck)));
    m_list.setCurrentItem(row);
}

void TrackListPresenter::itemClicked(QTreeWidgetItem* row) const
{
    if (m_locked() || !row)
        return;
    // The clicked row's track becomes the grabber's current one (for the preview); a failure
    // ends this here and the row stays selected.
    const int tag = row->data(ColumnCheck, TagRole).toInt();
    if (m_grabber.SetCurrentSession(disctext::tagSession(tag)).ok())
        (void)m_grabber.SetCurrentTrack(disctext::tagTrack(tag));
}

void TrackListPresenter::showMenu(const QPoint& position) const
{
    // Also over an empty part of the list.
    for (QAction* action : m_menu.actions())
        action->setEnabled(true);
    m_menu.popup(m_list.viewport()->mapToGlobal(position));
}

void TrackListPresenter::setEveryRowChecked(Qt::CheckState state)
{
    for (int k = 0; k < m_list.topLevelItemCount(); ++k) {
        CurrentItem = m_list.topLevelItem(k);
        setRowChecked(CurrentItem, state);
    }
    CurrentItem = nullptr;
}

int TrackListPresenter::rowCount() const
{
    return m_list.topLevelItemCount();
}

int TrackListPresenter::rowTag(int row) const
{
    return m_list.topLevelItem(row)->data(ColumnCheck, TagRole).toInt();
}

QString TrackListPresenter::rowName(int row) const
{
    return m_list.topLevelItem(row)->text(ColumnName);
}

bool TrackListPresenter::rowChecked(int row) const
{
    return m_list.topLevelItem(row)->checkState(ColumnCheck) == Qt::Checked;
}

void TrackListPresenter::makeCurrentRow(int row)
{
    CurrentItem = m_list.topLevelItem(row);
}

void TrackListPresenter::selectRow(int row) const
{
    QTreeWidgetItem* item = m_list.topLevelItem(row);
    m_list.setCurrentItem(item);
    m_list.scrollToItem(item);
}

void TrackListPresenter::setCurrentRowPercent(const QString& text) const
{
    if (CurrentItem)
        CurrentItem->setText(ColumnPercent, text);
}
