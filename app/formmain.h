#pragma once

#include "components/audioplayer.h"
#include "components/cdgrabber.h"
#include "grab/batchview.h"
#include "settings/mainsettings.h"

#include <QMainWindow>
#include <QStringList>

#include <memory>
#include <optional>

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;
class BatchGrab;
class Skin;
class SkinElement;
class Splash;
class TrackPreview;
class frmplaytrack;
class UserDialogs;

// The main window: the drives and the disc's tracks, the command buttons, the format and the
// output folder. It owns the grabber for the whole run; message boxes and the folder picker go
// through the dialogs service it is given. The batch grab has its rules in BatchGrab, which shows
// itself through this window.
class FormMain final : public QMainWindow, private BatchView
{
    Q_OBJECT

public:
    FormMain(std::unique_ptr<CdGrabber> grabber, std::unique_ptr<AudioPlayer> player,
             UserDialogs& dialogs, QWidget* parent = nullptr);
    ~FormMain() override;

    // Start-up: settings, the first disc read, the idle control state. Runs once, before the
    // window is shown.
    void Form_Load();

    // Switches the command controls between idle (true) and grabbing (false); Cancel is the
    // opposite of the others.
    void SetControlsEnabled(bool enabled) override;

    // Draws every control of window (this one or a dialog it owns) with the window's skin.
    void SkinForm(QWidget* window);

    // The folder that holds the skin, the splash and the help file: the program's own folder,
    // unless told otherwise before start-up.
    QString programFolder() const { return m_programFolder; }
    void setProgramFolder(const QString& folder) { m_programFolder = folder; }
    Skin* skin() const { return m_skin; }

    // Reads drives and disc again and rebuilds both lists. A failure ends the read where it
    // happened and is reported to the user.
    void ReadDisc();

    // Closes the window at once, without asking (the session is ending): a running grab is
    // stopped and its temporary file removed, the settings are saved, the grabber is closed.
    void closeWithoutAsking();

    CdGrabber* grabber() const { return AudioCDGrabber2.get(); }
    TrackPreview* preview() const { return m_preview; }
    const MainSettings& mainSettings() const { return m_mainSettings; }
    int outputFormat() const override { return OutputFormat; }
    bool trackGrabbing() const;
    QTreeWidgetItem* currentItem() const { return CurrentItem; }

    // Column of each track row's texts.
    enum Column { ColumnCheck, ColumnName, ColumnType, ColumnDuration, ColumnPercent };
    // The item data role that holds a row's tag.
    static constexpr int TagRole = Qt::UserRole;
    // The check state the row last showed the user.
    static constexpr int ShownCheckRole = Qt::UserRole + 1;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    enum class ReadMode { Normal, Startup };

    void buildControls();
    // Returns false when the read stopped at a failure (its description is in error).
    bool readDisc(ReadMode mode, QString& error);
    bool listTracks(ReadMode mode, QString& error);
    void InsertTrackInfoToTrackListView(int IndSession, int IndTrack);
    void reportReadFailure(const QString& description);
    void showStartupProblems();

    bool Form_QueryUnload();
    void Form_Unload();
    void Combo1_Click(int index);

    // Refresh and the FreeDB box ask before the disc is read again.
    void Command1_Click();
    void chkFreedbInfo_Click();
    bool askRefresh();

    // Track selection: check boxes (locked while a track is grabbed), a click makes the row's
    // track current, the menu checks or unchecks every row.
    void setRowChecked(QTreeWidgetItem* row, Qt::CheckState state);
    void trackListItemChanged(QTreeWidgetItem* row, int column);
    void TrackListView_ItemCheck(QTreeWidgetItem* row);
    void TrackListView_ItemClick(QTreeWidgetItem* row);
    void TrackListView_MouseUp(const QPoint& position);
    void setEveryRowChecked(Qt::CheckState state);
    void AudioCDGrabber2_MediaChange();
    void readDiscChangedDuringBatch();

    void Cmdgrab_Click();
    void cmdCancel_Click();
    // Play: the preview of the current track, in its dialog.
    void Command3_Click();
    void previewClosed();
    void restorePlayAndConvert();

    // The skin's command elements: convert, cancel, play, help and about.
    void Skin_ElementAction(const SkinElement& Element);
    void showAbout();

    // BatchView: the batch shows itself in the track list, the controls and the status bar.
    int rowCount() const override;
    int rowTag(int row) const override;
    QString rowName(int row) const override;
    bool rowChecked(int row) const override;
    void makeCurrentRow(int row) override;
    void selectRow(int row) override;
    void setCurrentRowPercent(const QString& text) override;
    void setCommandEnabled(Command command, bool enabled) override;
    void setStatusText(const QString& text) override;
    void setProgressVisible(bool visible) override;
    void setProgressValue(int value) override;
    QString outputFolder() const override;
    void setPreviewPlayFlag(bool playing) override;

    // Output format and folder.
    void Combo2_Click(const QString& text);
    void C1_Click();
    void C2_Click();
    void showSettingsDialog(QDialog* dialog, const char* name);

    std::unique_ptr<CdGrabber> AudioCDGrabber2;
    std::unique_ptr<AudioPlayer> AudioPlayer_;
    UserDialogs& m_dialogs;
    QString m_programFolder;
    Skin* m_skin = nullptr;
    Splash* m_splash = nullptr;
    TrackPreview* m_preview = nullptr;
    // Made at start-up, hidden between showings.
    frmplaytrack* m_previewDialog = nullptr;
    OutputFile* AudioFile = nullptr;
    MainSettings m_mainSettings;
    quint8 OutputFormat = 0;
    bool IgnoreFreeDBClick = true;
    // The WMA profile last confirmed in its dialog during this run; Cancel there goes back to it.
    std::optional<int> m_appliedWmaProfile;
    // Created with the controls; a child of this window.
    BatchGrab* m_batch = nullptr;
    // A disc change arrived while a batch ran; the disc is read when it ends.
    bool m_discChangedDuringBatch = false;
    QTreeWidgetItem* CurrentItem = nullptr;
    // The drive the user chose in the drive list, kept across re-reads.
    QString m_chosenDrive;
    QStringList m_startupProblems;
    bool m_unloaded = false;
    // The program is setting check boxes itself: no click handling.
    bool m_settingChecks = false;

    QPushButton* Cmdgrab = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* C1 = nullptr;
    QPushButton* C2 = nullptr;
    QCheckBox* chkFreedbInfo = nullptr;
    QComboBox* Combo1 = nullptr;
    QComboBox* Combo2 = nullptr;
    QLineEdit* txtFolder = nullptr;
    QTreeWidget* TrackListView = nullptr;
    QStatusBar* stBarStatus = nullptr;
    QLabel* m_statusPanel1 = nullptr;
    QProgressBar* pbProgressBar = nullptr;
    QMenu* mnuPopup = nullptr;
    QAction* menucheck = nullptr;
    QAction* menuuncheck = nullptr;
};
