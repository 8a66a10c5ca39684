#include "app/formmain.h"

#include "app/apptext.h"
#include "app/disctext.h"
#include "app/livewait.h"
#include "app/userdialogs.h"
#include "components/skin/skin.h"
#include "components/skin/splash.h"
#include "encoders/frmmp3.h"
#include "encoders/frmogg.h"
#include "encoders/frmwma.h"
#include "encoders/storedencodersettings.h"
#include "grab/batchgrab.h"
#include "grab/driveoffset.h"
#include "grab/trackoutput.h"
#include "preview/frmplaytrack.h"
#include "preview/trackpreview.h"
#include "settings/cregister.h"
#include "ui/frmabout.h"
#include "ui/skinform.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

FormMain::FormMain(std::unique_ptr<CdGrabber> grabber, std::unique_ptr<AudioPlayer> player,
                   UserDialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), AudioCDGrabber2(std::move(grabber)), AudioPlayer_(std::move(player)),
      m_dialogs(dialogs), m_programFolder(QCoreApplication::applicationDirPath()),
      m_skin(new Skin(this)), m_splash(new Splash(this))
{
    buildControls();
    connect(m_skin, &Skin::ElementAction, this, &FormMain::Skin_ElementAction);
    m_preview = new TrackPreview(*AudioCDGrabber2, *AudioPlayer_, m_dialogs, this);
    // The player's events go to the preview.
    connect(AudioPlayer_.get(), &AudioPlayer::RequestOnLoadArray, m_preview,
            &TrackPreview::loadNextChunk);
    connect(AudioPlayer_.get(), &AudioPlayer::EndArrayPlay, m_preview,
            &TrackPreview::loadNextChunk);
    connect(AudioPlayer_.get(), &AudioPlayer::EndPlay, m_preview, &TrackPreview::StopPlay);
    connect(AudioPlayer_.get(), &AudioPlayer::Timer, m_preview, &TrackPreview::AudioPlayer_Timer);
    connect(AudioPlayer_.get(), &AudioPlayer::PlaybackFailed, m_preview,
            &TrackPreview::AudioPlayer_Failed);
    m_batch = new BatchGrab(*AudioCDGrabber2, *this, m_dialogs, this);
    connect(m_batch, &BatchGrab::ended, this, &FormMain::readDiscChangedDuringBatch);
    connect(AudioCDGrabber2.get(), &CdGrabber::MediaChange, this,
            &FormMain::AudioCDGrabber2_MediaChange);
}

FormMain::~FormMain() = default;

void FormMain::buildControls()
{
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QStringLiteral("Corvane"));

    auto button = [this](const char* name, const QString& caption, bool enabled) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setEnabled(enabled);
        return b;
    };
    Cmdgrab = button("Cmdgrab", QStringLiteral("Convert"), false);
    Command3 = button("Command3", QStringLiteral("Play"), false);
    cmdCancel = button("cmdCancel", QStringLiteral("Cancel"), false);
    Command1 = button("Command1", QStringLiteral("Refresh"), true);
    C1 = button("C1", QStringLiteral("Settings"), true);
    C2 = button("C2", QStringLiteral("Browse"), true);

    chkFreedbInfo = new QCheckBox(
        QStringLiteral("Get CD Album information from FreeDB on disc insertion or refreshing"),
        this);
    chkFreedbInfo->setObjectName(QStringLiteral("chkFreedbInfo"));
    chkFreedbInfo->setEnabled(false);

    auto* driveFrame = new QGroupBox(QStringLiteral("CD-ROM view"), this);
    driveFrame->setObjectName(QStringLiteral("frmCdromView"));
    Combo1 = new QComboBox(driveFrame);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setAccessibleName(QStringLiteral("CD-ROM view"));
    Combo1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    auto* driveRow = new QHBoxLayout;
    driveRow->addWidget(Combo1, 1);
    driveRow->addWidget(Command1);

    TrackListView = new QTreeWidget(driveFrame);
    TrackListView->setObjectName(QStringLiteral("TrackListView"));
    TrackListView->setAccessibleName(QStringLiteral("Tracks"));
    TrackListView->setRootIsDecorated(false);
    TrackListView->setUniformRowHeights(true);
    TrackListView->setAllColumnsShowFocus(true);
    TrackListView->setHeaderLabels({QString(), QStringLiteral("Track Name"), QStringLiteral("Type"),
                                    QStringLiteral("Duration"), QStringLiteral("Percent")});
    TrackListView->header()->setStretchLastSection(false);
    TrackListView->header()->resizeSection(ColumnCheck, 32);
    TrackListView->header()->resizeSection(ColumnName, 180);
    TrackListView->header()->resizeSection(ColumnType, 80);
    TrackListView->header()->resizeSection(ColumnDuration, 100);
    TrackListView->header()->setSectionResizeMode(ColumnPercent, QHeaderView::Stretch);
    TrackListView->setContextMenuPolicy(Qt::CustomContextMenu);

    auto* frameLayout = new QVBoxLayout(driveFrame);
    frameLayout->addLayout(driveRow);
    frameLayout->addWidget(TrackListView, 1);
    frameLayout->addWidget(chkFreedbInfo);

    Combo2 = new QComboBox(this);
    Combo2->setObjectName(QStringLiteral("Combo2"));
    Combo2->addItems({QStringLiteral("WAV"), QStringLiteral("MP3"), QStringLiteral("WMA"),
                      QStringLiteral("OGG")});
    // Nothing is chosen until the saved format is put in at start-up.
    Combo2->setCurrentIndex(-1);
    auto* encoderLabel = new QLabel(QStringLiteral("Encoder"), this);
    encoderLabel->setBuddy(Combo2);

    txtFolder = new QLineEdit(this);
    txtFolder->setObjectName(QStringLiteral("txtFolder"));
    txtFolder->setReadOnly(true);
    auto* folderLabel = new QLabel(QStringLiteral("Output folder"), this);
    folderLabel->setBuddy(txtFolder);

    auto* outputGrid = new QGridLayout;
    outputGrid->addWidget(encoderLabel, 0, 0);
    outputGrid->addWidget(Combo2, 0, 1);
    outputGrid->addWidget(C1, 0, 2);
    outputGrid->addWidget(folderLabel, 1, 0);
    outputGrid->addWidget(txtFolder, 1, 1);
    outputGrid->addWidget(C2, 1, 2);
    outputGrid->setColumnStretch(1, 1);

    auto* commands = new QHBoxLayout;
    commands->addStretch(1);
    commands->addWidget(Cmdgrab);
    commands->addWidget(Command3);
    commands->addWidget(cmdCancel);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(driveFrame, 1);
    layout->addLayout(outputGrid);
    layout->addLayout(commands);
    setCentralWidget(central);

    stBarStatus = new QStatusBar(this);
    stBarStatus->setObjectName(QStringLiteral("stBarStatus"));
    stBarStatus->setSizeGripEnabled(false);
    m_statusPanel1 = new QLabel(QStringLiteral("Ready"), stBarStatus);
    m_statusPanel1->setObjectName(QStringLiteral("stBarStatusPanel1"));
    stBarStatus->addWidget(m_statusPanel1, 1);
    // The second panel is where the progress bar shows during a grab.
    auto* panel2 = new QWidget(stBarStatus);
    panel2->setObjectName(QStringLiteral("stBarStatusPanel2"));
    panel2->setFixedWidth(220);
    auto* panel2Layout = new QHBoxLayout(panel2);
    panel2Layout->setContentsMargins(0, 0, 0, 0);
    pbProgressBar = new QProgressBar(panel2);
    pbProgressBar->setObjectName(QStringLiteral("pbProgressBar"));
    pbProgressBar->setRange(0, 100);
    pbProgressBar->setAccessibleName(QStringLiteral("Progress"));
    panel2Layout->addWidget(pbProgressBar);
    stBarStatus->addPermanentWidget(panel2);
    setStatusBar(stBarStatus);

    mnuPopup = new QMenu(QStringLiteral("popupmenu"), this);
    mnuPopup->setObjectName(QStringLiteral("mnuPopup"));
    menucheck = mnuPopup->addAction(QStringLiteral("check all"));
    menucheck->setObjectName(QStringLiteral("menucheck"));
    menuuncheck = mnuPopup->addAction(QStringLiteral("uncheck all"));
    menuuncheck->setObjectName(QStringLiteral("menuuncheck"));

    connect(Combo1, &QComboBox::activated, this, &FormMain::Combo1_Click);
    connect(Cmdgrab, &QPushButton::clicked, this, &FormMain::Cmdgrab_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &FormMain::cmdCancel_Click);
    connect(Command3, &QPushButton::clicked, this, &FormMain::Command3_Click);
    // Any change of the format list counts as a choice, also the saved format put in at start-up.
    connect(Combo2, &QComboBox::currentTextChanged, this, &FormMain::Combo2_Click);
    connect(C1, &QPushButton::clicked, this, &FormMain::C1_Click);
    connect(C2, &QPushButton::clicked, this, &FormMain::C2_Click);
    connect(Command1, &QPushButton::clicked, this, &FormMain::Command1_Click);
    // Every change of the box's state, also one the program makes.
    connect(chkFreedbInfo, &QCheckBox::stateChanged, this, &FormMain::chkFreedbInfo_Click);
    connect(TrackListView, &QTreeWidget::itemChanged, this, &FormMain::trackListItemChanged);
    connect(TrackListView, &QTreeWidget::itemClicked, this, &FormMain::TrackListView_ItemClick);
    connect(TrackListView, &QWidget::customContextMenuRequested, this,
            &FormMain::TrackListView_MouseUp);
    connect(menucheck, &QAction::triggered, this, [this] { setEveryRowChecked(Qt::Checked); });
    connect(menuuncheck, &QAction::triggered, this, [this] { setEveryRowChecked(Qt::Unchecked); });

    resize(640, 480);
}

void FormMain::Form_Load()
{
    m_splash->SetFile(m_programFolder + QStringLiteral("/Moravel.spl"));
    m_splash->Open(0);

    // Without its skin file the program still starts, in the platform style.
    if (!m_skin->LoadSkinFile(m_programFolder + QStringLiteral("/main.skn")))
        qWarning("%s; the windows keep the platform style.", qPrintable(m_skin->problem()));
    m_skin->SkinWindow(this, QStringLiteral("form"));
    SkinForm(this);

    // Settings: the saved format selects its entry of the format list, the folder shows.
    m_mainSettings = MainSettings::load(CRegister());
    if (const auto problem = CRegister::takeProblemReport())
        m_startupProblems << *problem;
    pbProgressBar->hide();
    Combo2->setCurrentText(m_mainSettings.LastOutputFormat);
    txtFolder->setText(m_mainSettings.OutputFolder);

    m_preview->flgPlay = false;
    m_previewDialog = new frmplaytrack(*m_preview, this);
    connect(m_previewDialog, &QDialog::finished, this, &FormMain::previewClosed);

    // The encoder settings saved in earlier runs are in force from the start, not only once their
    // dialog has been confirmed again.
    if (OutputFile* file = AudioCDGrabber2->AudioFile())
        applyAllStoredEncoderSettings(*file, CRegister());

    // The first disc read goes on past failures; any failure leaves an empty track list and
    // a disabled Refresh button.
    QString error;
    readDisc(ReadMode::Startup, error);
    if (!error.isEmpty()) {
        TrackListView->clear();
        CurrentItem = nullptr;
        Command1->setEnabled(false);
        m_startupProblems << apptext::readFailure(error);
    }
    SetControlsEnabled(true);
    repaint();
    QCoreApplication::processEvents();
    m_splash->SetVisible(false);
    IgnoreFreeDBClick = false;

    // Problems are told once the window is up, not before it shows.
    if (!m_startupProblems.isEmpty())
        QTimer::singleShot(0, this, &FormMain::showStartupProblems);
}

void FormMain::showStartupProblems()
{
    if (m_unloaded)
        return;
    const QStringList problems = std::exchange(m_startupProblems, {});
    for (const QString& problem : problems)
        m_dialogs.ask(this, {problem, apptext::title(), MessageBox::Buttons::Ok,
                             MessageBox::Icon::Critical, MessageBox::Answer::Ok});
}

void FormMain::SetControlsEnabled(bool enabled)
{
    Cmdgrab->setEnabled(enabled);
    Command3->setEnabled(enabled);
    cmdCancel->setEnabled(!enabled);
    Combo1->setEnabled(enabled);
    C1->setEnabled(enabled);
    C2->setEnabled(enabled);
    Combo2->setEnabled(enabled);
    txtFolder->setEnabled(enabled);
    chkFreedbInfo->setEnabled(enabled);
    TrackListView->setEnabled(enabled);
}

void FormMain::ReadDisc()
{
    QString error;
    if (!readDisc(ReadMode::Normal, error))
        reportReadFailure(error);
}

void FormMain::reportReadFailure(const QString& description)
{
    m_dialogs.ask(this,
                  {apptext::readFailure(description), apptext::title(), MessageBox::Buttons::Ok,
                   MessageBox::Icon::Critical, MessageBox::Answer::Ok});
}

bool FormMain::readDisc(ReadMode mode, QString& error)
{
    const bool startup = mode == ReadMode::Startup;
    // At start-up a failing step is noted and the read goes on with the next one; otherwise the
    // read ends at the first failure.
    auto failed = [&](const Status& status) {
        if (status.ok())
            return false;
        if (error.isEmpty())
            error = status.error();
        return !startup;
    };

    if (failed(AudioCDGrabber2->Refresh()))
        return false;
    QCoreApplication::processEvents();
    Combo1->clear();
    if (!startup) {
        TrackListView->clear();
        CurrentItem = nullptr;
    }

    const int drives = AudioCDGrabber2->DriveCount();
    for (int drive = 1; drive <= drives; ++drive) {
        if (failed(AudioCDGrabber2->SetCurrentDrive(drive)))
            return false;
        Combo1->addItem(
            disctext::driveLine(AudioCDGrabber2->DriveLetter(), AudioCDGrabber2->DriveVendor(),
                                AudioCDGrabber2->DriveProduct(), AudioCDGrabber2->DriveRevision()),
            AudioCDGrabber2->DriveLetter());
    }
    // The drive the user chose stays current across re-reads; otherwise the last drive read is.
    // The drive list shows the line of the drive whose tracks are listed.
    if (const int chosen = Combo1->findData(m_chosenDrive);
        !m_chosenDrive.isEmpty() && chosen >= 0) {
        if (failed(AudioCDGrabber2->SetCurrentDrive(chosen + 1)))
            return false;
    }
    if (Combo1->count() > 0)
        Combo1->setCurrentIndex(
            qBound(0, AudioCDGrabber2->CurrentDrive() - 1, Combo1->count() - 1));

    if (startup && drives == 0)
        return error.isEmpty();
    return listTracks(mode, error) && error.isEmpty();
}

bool FormMain::listTracks(ReadMode mode, QString& error)
{
    const bool startup = mode == ReadMode::Startup;
    auto failed = [&](const QString& description) {
        if (error.isEmpty())
            error = description;
        return !startup;
    };

    // The drive's model reads with the offset kept for it, as in the command-line tool.
    driveoffset::apply(*AudioCDGrabber2, CRegister());
    AudioFile = AudioCDGrabber2->AudioFile();
    if (AudioFile)
        AudioFile->SetReadFlag(true);

    const Result<int> sessions = AudioCDGrabber2->SessionCount();
    if (!sessions.ok())
        return !failed(sessions.error());
    for (int session = 0; session < sessions.value(); ++session) {
        if (const Status s = AudioCDGrabber2->SetCurrentSession(session);
            !s.ok() && failed(s.error()))
            return false;
        const Result<int> tracks = AudioCDGrabber2->TrackCount();
        if (!tracks.ok()) {
            if (failed(tracks.error()))
                return false;
            continue;
        }
        for (int track = 0; track < tracks.value(); ++track) {
            if (const Status s = AudioCDGrabber2->SetCurrentTrack(track); !s.ok()) {
                if (failed(s.error()))
                    return false;
                continue;
            }
            InsertTrackInfoToTrackListView(session, track);
        }
    }

    if (TrackListView->topLevelItemCount() > 0) {
        CurrentItem = TrackListView->topLevelItem(0);
        TrackListView->setCurrentItem(CurrentItem);
        TrackListView->scrollToItem(CurrentItem);
    }
    return true;
}

void FormMain::InsertTrackInfoToTrackListView(int IndSession, int IndTrack)
{
    auto* row = new QTreeWidgetItem(TrackListView);
    row->setData(ColumnCheck, TagRole, disctext::trackTag(IndSession, IndTrack));
    setRowChecked(row, Qt::Unchecked);
    row->setText(ColumnName, disctext::trackName(IndSession, IndTrack));
    row->setText(ColumnType, disctext::trackTypeText(AudioCDGrabber2->TrackType()));
    row->setText(ColumnDuration, disctext::durationText(AudioCDGrabber2->TrackMinutes(),
                                                        AudioCDGrabber2->TrackSeconds(),
                                                        AudioCDGrabber2->TrackFraction()));
    row->setText(ColumnPercent, QStringLiteral("0%"));
    TrackListView->scrollToItem(row);
}

void FormMain::Command1_Click()
{
    if (askRefresh())
        ReadDisc();
}

bool FormMain::askRefresh()
{
    return m_dialogs.ask(this, {QStringLiteral("Refresh the CD Album Information ?"),
                                QStringLiteral("FreeDB options changed"),
                                MessageBox::Buttons::YesNo, MessageBox::Icon::None,
                                MessageBox::Answer::Yes}) == MessageBox::Answer::Yes;
}

void FormMain::chkFreedbInfo_Click()
{
    // A change the program made itself is let through once.
    if (std::exchange(IgnoreFreeDBClick, false))
        return;
    const bool refresh = askRefresh();
    if (refresh)
        ReadDisc();
    // The box shows the last answer; setting it raises no second question. This runs inside
    // the box's own change: a click of the mouse or of Space holds back the box's change signal
    // until the click is over, so setChecked() here would change the box without a signal, the
    // flag would swallow the user's next click and the box would keep announcing the old
    // state. setCheckState() announces the change at once, whoever changed the box.
    if (chkFreedbInfo->isChecked() != refresh) {
        IgnoreFreeDBClick = true;
        chkFreedbInfo->setCheckState(refresh ? Qt::Checked : Qt::Unchecked);
    }
}

void FormMain::setRowChecked(QTreeWidgetItem* row, Qt::CheckState state)
{
    // The state the user last saw is kept beside the check box, so that a change of another
    // column (the percent, say) is not taken for a click on the box.
    const QScopedValueRollback quiet(m_settingChecks, true);
    row->setCheckState(ColumnCheck, state);
    row->setData(ColumnCheck, ShownCheckRole, int(state));
}

void FormMain::trackListItemChanged(QTreeWidgetItem* row, int column)
{
    if (m_settingChecks || column != ColumnCheck ||
        row->data(ColumnCheck, ShownCheckRole).toInt() == int(row->checkState(ColumnCheck)))
        return;
    TrackListView_ItemCheck(row);
}

void FormMain::TrackListView_ItemCheck(QTreeWidgetItem* row)
{
    // Checks are locked while a track is grabbed: the change is undone at once.
    if (m_batch->trackGrabbing()) {
        setRowChecked(row,
                      row->checkState(ColumnCheck) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        return;
    }
    row->setData(ColumnCheck, ShownCheckRole, int(row->checkState(ColumnCheck)));
    TrackListView->setCurrentItem(row);
}

void FormMain::TrackListView_ItemClick(QTreeWidgetItem* row)
{
    if (m_batch->trackGrabbing() || !row)
        return;
    // The clicked row's track becomes the grabber's current one (for the preview); a failure
    // ends this here and the row stays selected.
    const int tag = row->data(ColumnCheck, TagRole).toInt();
    if (AudioCDGrabber2->SetCurrentSession(disctext::tagSession(tag)).ok())
        (void)AudioCDGrabber2->SetCurrentTrack(disctext::tagTrack(tag));
}

void FormMain::TrackListView_MouseUp(const QPoint& position)
{
    // Also over an empty part of the list.
    menucheck->setEnabled(true);
    menuuncheck->setEnabled(true);
    mnuPopup->popup(TrackListView->viewport()->mapToGlobal(position));
}

void FormMain::setEveryRowChecked(Qt::CheckState state)
{
    for (int k = 0; k < TrackListView->topLevelItemCount(); ++k) {
        CurrentItem = TrackListView->topLevelItem(k);
        setRowChecked(CurrentItem, state);
    }
    CurrentItem = nullptr;
}

void FormMain::Combo1_Click(int index)
{
    if (m_batch->trackGrabbing())
        return;
    if (const Status s = AudioCDGrabber2->SetCurrentDrive(index + 1); !s.ok()) {
        reportReadFailure(s.error());
        return;
    }
    m_chosenDrive = AudioCDGrabber2->DriveLetter();
    TrackListView->clear();
    CurrentItem = nullptr;
    QString error;
    if (!listTracks(ReadMode::Normal, error))
        reportReadFailure(error);
}

void FormMain::AudioCDGrabber2_MediaChange()
{
    // Rebuilding the list under a running batch would end the wait for the track being grabbed
    // and hand its progress to other rows; the disc is read again once the batch has ended.
    if (m_batch->grabbing() || m_batch->trackGrabbing()) {
        m_discChangedDuringBatch = true;
        return;
    }
    ReadDisc();
    if (TrackListView->topLevelItemCount() > 1)
        chkFreedbInfo->setEnabled(true);
}

void FormMain::closeEvent(QCloseEvent* event)
{
    if (!m_unloaded && !Form_QueryUnload()) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void FormMain::closeWithoutAsking()
{
    Form_Unload();
    // A question still open (an overwrite, say) gets its gentlest answer, so the batch under it
    // can wind down.
    QApplication::closeAllWindows();
}

bool FormMain::Form_QueryUnload()
{
    if (!AudioCDGrabber2->Busy())
        return true;
    const auto answer = m_dialogs.ask(this, {QStringLiteral("Are you sure you want to quit ?"),
                                             apptext::title(), MessageBox::Buttons::YesNo,
                                             MessageBox::Icon::None, MessageBox::Answer::Yes});
    if (answer != MessageBox::Answer::Yes)
        return false;
    AudioCDGrabber2->Abort();
    waitLive(500);
    return true;
}

void FormMain::Form_Unload()
{
    if (std::exchange(m_unloaded, true))
        return;
    // The preview closes with the window.
    m_preview->StopPlay();
    cmdCancel_Click();
    m_mainSettings.save(CRegister());
    AudioCDGrabber2->Close();
}

void FormMain::Cmdgrab_Click()
{
    m_batch->Cmdgrab_Click();
}

void FormMain::cmdCancel_Click()
{
    m_batch->cmdCancel_Click();
}

void FormMain::readDiscChangedDuringBatch()
{
    // Once the window has closed, the grabber is closed too: nothing is read or shown.
    if (std::exchange(m_discChangedDuringBatch, false) && !m_unloaded)
        AudioCDGrabber2_MediaChange();
}

void FormMain::Command3_Click()
{
    if (TrackListView->topLevelItemCount() == 0 || !m_previewDialog)
        return;
    Cmdgrab->setEnabled(false);
    if (!m_batch->trackGrabbing()) {
        // An index beyond the disc is ignored: the track of the last row clicked stays current.
        (void)AudioCDGrabber2->SetCurrentSession(4);
        if (AudioCDGrabber2->TrackType() != CdGrabber::TrackTypeAudio) {
            m_dialogs.ask(this, {QStringLiteral("Selected track type is not AUDIO!"),
                                 apptext::title(), MessageBox::Buttons::Ok, MessageBox::Icon::None,
                                 MessageBox::Answer::Ok});
        } else if (m_preview->flgPlay) {
            m_dialogs.ask(this,
                          {QStringLiteral("You can't play audio,there is conversion process!"),
                           QStringLiteral("Warning"), MessageBox::Buttons::Ok,
                           MessageBox::Icon::None, MessageBox::Answer::Ok});
        } else {
            m_preview->StartPlay();
            // Play and Convert come back once the dialog has closed.
            if (!m_previewDialog->isVisible()) {
                m_previewDialog->open();
                return;
            }
        }
    }
    restorePlayAndConvert();
}

void FormMain::restorePlayAndConvert()
{
    // Play from the skin during a batch must not enable the batch's controls.
    if (!m_batch->grabbing()) {
        Command3->setEnabled(true);
        Cmdgrab->setEnabled(true);
    }
}

void FormMain::previewClosed()
{
    // However the dialog closed, the preview stops in full.
    m_preview->flgPlay = true;
    m_preview->StopPlay();
    restorePlayAndConvert();
}

void FormMain::setPreviewPlayFlag(bool playing)
{
    m_preview->flgPlay = playing;
}

void FormMain::SkinForm(QWidget* window)
{
    ::SkinForm(*m_skin, window);
}

void FormMain::Skin_ElementAction(const SkinElement& Element)
{
    const QString name = Element.ElementName();
    if (name == QLatin1String("convert")) {
        // The batch pumps events while it runs; a second Convert then would start it again.
        if (!m_batch->grabbing())
            Cmdgrab_Click();
    } else if (name == QLatin1String("cancel")) {
        cmdCancel_Click();
    } else if (name == QLatin1String("play") || name == QLatin1String("play2")) {
        Command3_Click();
    } else if (name == QLatin1String("stop")) {
        m_preview->StopPlay();
    } else if (name == QLatin1String("help")) {
        m_dialogs.openDocument(this, m_programFolder + QStringLiteral("/Pellmar.chm"));
    } else if (name == QLatin1String("about")) {
        showAbout();
    }
}

void FormMain::showAbout()
{
    auto* about = new frmabout(m_dialogs, m_programFolder, this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    if (about->Form_Load())
        about->open();
}

bool FormMain::trackGrabbing() const
{
    return m_batch->trackGrabbing();
}

int FormMain::rowCount() const
{
    return TrackListView->topLevelItemCount();
}

int FormMain::rowTag(int row) const
{
    return TrackListView->topLevelItem(row)->data(ColumnCheck, TagRole).toInt();
}

QString FormMain::rowName(int row) const
{
    return TrackListView->topLevelItem(row)->text(ColumnName);
}

bool FormMain::rowChecked(int row) const
{
    return TrackListView->topLevelItem(row)->checkState(ColumnCheck) == Qt::Checked;
}

void FormMain::makeCurrentRow(int row)
{
    CurrentItem = TrackListView->topLevelItem(row);
}

void FormMain::selectRow(int row)
{
    QTreeWidgetItem* item = TrackListView->topLevelItem(row);
    TrackListView->setCurrentItem(item);
    TrackListView->scrollToItem(item);
}

void FormMain::setCurrentRowPercent(const QString& text)
{
    if (CurrentItem)
        CurrentItem->setText(ColumnPercent, text);
}

void FormMain::setCommandEnabled(Command command, bool enabled)
{
    switch (command) {
    case Command::Convert:
        Cmdgrab->setEnabled(enabled);
        break;
    case Command::Play:
        Command3->setEnabled(enabled);
        break;
    case Command::Refresh:
        Command1->setEnabled(enabled);
        break;
    }
}

void FormMain::setStatusText(const QString& text)
{
    m_statusPanel1->setText(text);
}

void FormMain::setProgressVisible(bool visible)
{
    pbProgressBar->setVisible(visible);
}

void FormMain::setProgressValue(int value)
{
    pbProgressBar->setValue(value);
}

QString FormMain::outputFolder() const
{
    return txtFolder->text();
}

void FormMain::Combo2_Click(const QString& text)
{
    const std::optional<quint8> code = trackoutput::formatCode(text);
    if (!code)
        return;
    OutputFormat = *code;
    // Only WAV is remembered as the last format; a choice of another format is not saved.
    if (OutputFormat == trackoutput::FormatWav)
        m_mainSettings.LastOutputFormat = text;
}

void FormMain::C1_Click()
{
    switch (OutputFormat) {
    case trackoutput::FormatWav:
        m_dialogs.ask(this, {QStringLiteral("Options for WAV format are not available!"),
                             apptext::title(), MessageBox::Buttons::Ok, MessageBox::Icon::None,
                             MessageBox::Answer::Ok});
        break;
    case trackoutput::FormatMp3:
        if (OutputFile* file = AudioCDGrabber2->AudioFile())
            showSettingsDialog(new frmmp3(*file, m_dialogs, this), "frmmp3");
        break;
    case trackoutput::FormatWma:
        if (OutputFile* file = AudioCDGrabber2->AudioFile())
            showSettingsDialog(new frmwma(*file, m_appliedWmaProfile, this), "frmwma");
        break;
    case trackoutput::FormatOgg:
        if (OutputFile* file = AudioCDGrabber2->AudioFile())
            showSettingsDialog(new frmogg(*file, m_dialogs, this), "frmogg");
        break;
    default:
        break;
    }
}

void FormMain::showSettingsDialog(QDialog* dialog, const char* name)
{
    // Built afresh at every opening and gone once closed; modal to this window without blocking
    // the event loop, so the window's own events (a disc change, say) still run meanwhile.
    dialog->setObjectName(QLatin1String(name));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void FormMain::C2_Click()
{
    const QString folder =
        m_dialogs.chooseFolder(this, QStringLiteral("Select a folder"), txtFolder->text());
    // An empty answer is a cancelled choice.
    if (folder.isEmpty())
        return;
    txtFolder->setText(folder);
    m_mainSettings.OutputFolder = folder;
}
