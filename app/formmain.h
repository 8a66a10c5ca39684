#pragma once

#include "components/cdgrabber.h"
#include "settings/mainsettings.h"

#include <QMainWindow>
#include <QStringList>

#include <memory>

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;
class UserDialogs;

// The main window: the drives and the disc's tracks, the command buttons, the format and the
// output folder. It owns the grabber for the whole run; message boxes and the folder picker go
// through the dialogs service it is given.
class FormMain final : public QMainWindow
{
    Q_OBJECT

public:
    FormMain(std::unique_ptr<CdGrabber> grabber, UserDialogs& dialogs, QWidget* parent = nullptr);
    ~FormMain() override;

    // Start-up: settings, the first disc read, the idle control state. Runs once, before the
    // window is shown.
    void Form_Load();

    // Switches the command controls between idle (true) and grabbing (false); Cancel is the
    // opposite of the others.
    void SetControlsEnabled(bool enabled);

    // Reads drives and disc again and rebuilds both lists. A failure ends the read where it
    // happened and is reported to the user.
    void ReadDisc();

    CdGrabber* grabber() const { return AudioCDGrabber2.get(); }
    const MainSettings& mainSettings() const { return m_mainSettings; }
    int outputFormat() const { return OutputFormat; }
    bool trackGrabbing() const { return TrackGrabbing; }
    QTreeWidgetItem* currentItem() const { return CurrentItem; }

    // Column of each track row's texts.
    enum Column { ColumnCheck, ColumnName, ColumnType, ColumnDuration, ColumnPercent };
    // The item data role that holds a row's tag.
    static constexpr int TagRole = Qt::UserRole;

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
    void AudioCDGrabber2_MediaChange();
    void readDiscChangedDuringBatch();

    // The grab: Convert walks the checked rows and grabs them one by one; progress, retries,
    // failures and Cancel arrive while it waits for each track.
    void Cmdgrab_Click();
    // Returns false when the batch stopped early (cancelled, or no output folder) and has put
    // the controls back itself; true when the finishing steps are due.
    bool grabCheckedRows();
    void stopBatch();
    void GrabCurrentTrack(const QString& trackName);
    void DockProgressBar();
    void reportConversionError(const QString& description);
    void AudioCDGrabber2_OperationProgress(double percent);
    void AudioCDGrabber2_GrabRetry(int retry, qint64 sector);
    void AudioCDGrabber2_GrabFailed(const QString& description);
    void cmdCancel_Click();

    // Output format and folder.
    void Combo2_Click(const QString& text);
    void C1_Click();
    void C2_Click();

    std::unique_ptr<CdGrabber> AudioCDGrabber2;
    UserDialogs& m_dialogs;
    OutputFile* AudioFile = nullptr;
    MainSettings m_mainSettings;
    quint8 OutputFormat = 0;
    bool IgnoreFreeDBClick = true;
    bool TrackGrabbing = false;
    // The batch loop is working on a row.
    bool Grabbing = false;
    // Checked rows counted when the batch started, and those reached so far.
    int TracksToGrab = 0;
    int TracksStarted = 0;
    bool flgCancel = false;
    // A disc change arrived while a batch ran; the disc is read when it ends.
    bool m_discChangedDuringBatch = false;
    QTreeWidgetItem* CurrentItem = nullptr;
    // The drive the user chose in the drive list, kept across re-reads.
    QString m_chosenDrive;
    QStringList m_startupProblems;
    bool m_unloaded = false;

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
