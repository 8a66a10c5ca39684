#pragma once

#include "app/discreader.h"
#include "app/maincontrols.h"
#include "app/tracklistpresenter.h"
#include "components/audioplayer.h"
#include "components/cdgrabber.h"
#include "settings/mainsettings.h"

#include <QMainWindow>

#include <memory>
#include <optional>

class QCloseEvent;
class QTreeWidgetItem;
class BatchGrab;
class MainBatchView;
class OutputOptions;
class PreviewCommand;
class Skin;
class SkinElement;
class StartupSequence;
class TrackPreview;
class UserDialogs;

// The main window: the drives and the disc's tracks, the command buttons, the format and the
// output folder. It owns the grabber for the whole run; message boxes and the folder picker go
// through the dialogs service it is given. Its handlers are one-line calls into the parts that
// hold the rules: the track list (TrackListPresenter), the disc read (DiscReader), the output
// options (OutputOptions), Play (PreviewCommand), start-up (StartupSequence) and the batch grab
// (BatchGrab), which shows itself through MainBatchView.
class FormMain final : public QMainWindow
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
    void SetControlsEnabled(bool enabled);

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
    int outputFormat() const;
    bool trackGrabbing() const;
    QTreeWidgetItem* currentItem() const { return m_tracks->currentItem(); }

    // Column of each track row's texts, and the item data roles of a row's tag and of the check
    // state it last showed the user.
    using Column = TrackListPresenter::Column;
    using enum TrackListPresenter::Column;
    static constexpr int TagRole = TrackListPresenter::TagRole;
    static constexpr int ShownCheckRole = TrackListPresenter::ShownCheckRole;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    using ReadMode = DiscReader::Mode;

    void buildControls();
    // Returns false when the read stopped at a failure (its description is in error).
    bool readDisc(ReadMode mode, QString& error);
    bool listTracks(ReadMode mode, QString& error);
    void reportReadFailure(const QString& description);
    void showStartupProblems();

    bool Form_QueryUnload();
    void Form_Unload();
    // What to tell the user when the settings could not be saved at close; none when all were,
    // or when start-up said already that changes would not be kept.
    std::optional<QString> settingsLostText() const;
    void Combo1_Click(int index);

    // Refresh and the FreeDB box ask before the disc is read again.
    void Command1_Click();
    void chkFreedbInfo_Click();
    bool askRefresh();

    // Track selection: check boxes (locked while a track is grabbed), a click makes the row's
    // track current, the menu checks or unchecks every row.
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

    // The skin's command elements: convert, cancel, play, help and about.
    void Skin_ElementAction(const SkinElement& Element);
    void showAbout();

    // Output format and folder.
    void Combo2_Click(const QString& text);
    void C1_Click();
    void C2_Click();

    std::unique_ptr<CdGrabber> AudioCDGrabber2;
    std::unique_ptr<AudioPlayer> AudioPlayer_;
    UserDialogs& m_dialogs;
    QString m_programFolder;
    Skin* m_skin = nullptr;
    TrackPreview* m_preview = nullptr;
    MainSettings m_mainSettings;
    bool IgnoreFreeDBClick = true;
    // Created with the controls; a child of this window.
    BatchGrab* m_batch = nullptr;
    // A disc change arrived while a batch ran; the disc is read when it ends.
    bool m_discChangedDuringBatch = false;
    bool m_unloaded = false;
    // The settings could not all be saved at close.
    bool m_settingsLost = false;

    MainControls m_ui;
    std::unique_ptr<TrackListPresenter> m_tracks;
    std::unique_ptr<DiscReader> m_disc;
    std::unique_ptr<OutputOptions> m_output;
    std::unique_ptr<MainBatchView> m_batchView;
    std::unique_ptr<PreviewCommand> m_play;
    std::unique_ptr<StartupSequence> m_startup;
};
