#include "app/formmain.h"

#include "app/apptext.h"
#include "app/livewait.h"
#include "app/mainbatchview.h"
#include "app/outputoptions.h"
#include "app/previewcommand.h"
#include "app/startupsequence.h"
#include "app/userdialogs.h"
#include "components/skin/skin.h"
#include "grab/batchgrab.h"
#include "preview/trackpreview.h"
#include "settings/cregister.h"
#include "ui/frmabout.h"
#include "ui/skinform.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

FormMain::FormMain(std::unique_ptr<CdGrabber> grabber, std::unique_ptr<AudioPlayer> player,
                   UserDialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), AudioCDGrabber2(std::move(grabber)), AudioPlayer_(std::move(player)),
      m_dialogs(dialogs), m_programFolder(QCoreApplication::applicationDirPath()),
      m_skin(new Skin(this))
{
    m_startup = std::make_unique<StartupSequence>(*this, *m_skin, m_dialogs);
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

    m_tracks =
        std::make_unique<TrackListPresenter>(*m_ui.TrackListView, *m_ui.mnuPopup, *AudioCDGrabber2,
                                             [this] { return m_batch->trackGrabbing(); });
    m_disc = std::make_unique<DiscReader>(*AudioCDGrabber2, *m_ui.Combo1, *m_tracks);
    m_output = std::make_unique<OutputOptions>(*AudioCDGrabber2, m_dialogs, m_mainSettings, *this,
                                               *m_ui.txtFolder);
    m_batchView = std::make_unique<MainBatchView>(m_ui, *m_tracks, *m_output, *m_preview);
    m_batch = new BatchGrab(*AudioCDGrabber2, *m_batchView, m_dialogs, this);
    m_play = std::make_unique<PreviewCommand>(*AudioCDGrabber2, *m_preview, m_dialogs, *m_batch,
                                              m_ui, *this);
    connect(m_batch, &BatchGrab::ended, this, &FormMain::readDiscChangedDuringBatch);
    connect(AudioCDGrabber2.get(), &CdGrabber::MediaChange, this,
            &FormMain::AudioCDGrabber2_MediaChange);
}

FormMain::~FormMain() = default;

void FormMain::buildControls()
{
    m_ui = MainControls::build(*this);
    connect(m_ui.Combo1, &QComboBox::activated, this, &FormMain::Combo1_Click);
    connect(m_ui.Cmdgrab, &QPushButton::clicked, this, &FormMain::Cmdgrab_Click);
    connect(m_ui.cmdCancel, &QPushButton::clicked, this, &FormMain::cmdCancel_Click);
    connect(m_ui.Command3, &QPushButton::clicked, this, &FormMain::Command3_Click);
    // Any change of the format list counts as a choice, also the saved format put in at start-up.
    connect(m_ui.Combo2, &QComboBox::currentTextChanged, this, &FormMain::Combo2_Click);
    connect(m_ui.C1, &QPushButton::clicked, this, &FormMain::C1_Click);
    connect(m_ui.C2, &QPushButton::clicked, this, &FormMain::C2_Click);
    connect(m_ui.Command1, &QPushButton::clicked, this, &FormMain::Command1_Click);
    // Every change of the box's state, also one the program makes.
    connect(m_ui.chkFreedbInfo, &QCheckBox::stateChanged, this, &FormMain::chkFreedbInfo_Click);
    connect(m_ui.TrackListView, &QTreeWidget::itemChanged, this, &FormMain::trackListItemChanged);
    connect(m_ui.TrackListView, &QTreeWidget::itemClicked, this,
            &FormMain::TrackListView_ItemClick);
    connect(m_ui.TrackListView, &QWidget::customContextMenuRequested, this,
            &FormMain::TrackListView_MouseUp);
    connect(m_ui.menucheck, &QAction::triggered, this, [this] { setEveryRowChecked(Qt::Checked); });
    connect(m_ui.menuuncheck, &QAction::triggered, this,
            [this] { setEveryRowChecked(Qt::Unchecked); });
}

void FormMain::Form_Load()
{
    m_startup->begin(m_programFolder);

    // Settings: the saved format selects its entry of the format list, the folder shows.
    m_mainSettings = m_startup->loadSettings();
    m_ui.pbProgressBar->hide();
    m_ui.Combo2->setCurrentText(m_mainSettings.LastOutputFormat);
    m_ui.txtFolder->setText(m_mainSettings.OutputFolder);

    connect(m_play->makeDialog(), &QDialog::finished, this, &FormMain::previewClosed);
    StartupSequence::applyStoredEncoderSettings(*AudioCDGrabber2);

    // The first disc read goes on past failures; any failure leaves an empty track list and
    // a disabled Refresh button.
    QString error;
    readDisc(ReadMode::Startup, error);
    if (!error.isEmpty()) {
        m_tracks->clear();
        m_ui.Command1->setEnabled(false);
        m_startup->noteProblem(apptext::readFailure(error));
    }
    SetControlsEnabled(true);
    // Start-up gives the event loop no turn once the splash is drawn: the window is not shown yet
    // and draws itself once it is, and what was signalled meanwhile (a disc change, say) is
    // handled from the event loop after start-up, with the controls in their idle state.
    m_startup->end();
    IgnoreFreeDBClick = false;

    // Problems are told once the window is up, not before it shows.
    if (m_startup->hasProblems())
        QTimer::singleShot(0, this, &FormMain::showStartupProblems);
}

void FormMain::showStartupProblems()
{
    if (!m_unloaded)
        m_startup->tellProblems();
}

void FormMain::SetControlsEnabled(bool enabled)
{
    m_ui.setCommandsEnabled(enabled);
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
    return m_disc->readDisc(mode, error);
}

bool FormMain::listTracks(ReadMode mode, QString& error)
{
    return m_disc->listTracks(mode, error);
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
    if (m_ui.chkFreedbInfo->isChecked() != refresh) {
        IgnoreFreeDBClick = true;
        m_ui.chkFreedbInfo->setCheckState(refresh ? Qt::Checked : Qt::Unchecked);
    }
}

void FormMain::trackListItemChanged(QTreeWidgetItem* row, int column)
{
    if (m_tracks->isUserCheck(row, column))
        TrackListView_ItemCheck(row);
}

void FormMain::TrackListView_ItemCheck(QTreeWidgetItem* row)
{
    m_tracks->itemChecked(row);
}

void FormMain::TrackListView_ItemClick(QTreeWidgetItem* row)
{
    m_tracks->itemClicked(row);
}

void FormMain::TrackListView_MouseUp(const QPoint& position)
{
    m_tracks->showMenu(position);
}

void FormMain::setEveryRowChecked(Qt::CheckState state)
{
    m_tracks->setEveryRowChecked(state);
}

void FormMain::Combo1_Click(int index)
{
    if (m_batch->trackGrabbing())
        return;
    QString error;
    if (!m_disc->chooseDrive(index, error))
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
    if (m_tracks->rowCount() > 1)
        m_ui.chkFreedbInfo->setEnabled(true);
}

void FormMain::readDiscChangedDuringBatch()
{
    // Once the window has closed, the grabber is closed too: nothing is read or shown.
    if (std::exchange(m_discChangedDuringBatch, false) && !m_unloaded)
        AudioCDGrabber2_MediaChange();
}

void FormMain::closeEvent(QCloseEvent* event)
{
    if (!m_unloaded && !Form_QueryUnload()) {
        event->ignore();
        return;
    }
    Form_Unload();
    // Settings the store could not keep are said before the window goes, unless the user heard
    // at start-up that they would not be.
    if (const auto lost = settingsLostText())
        m_dialogs.ask(this, {*lost, apptext::title(), MessageBox::Buttons::Ok,
                             MessageBox::Icon::Warning, MessageBox::Answer::Ok});
    event->accept();
}

std::optional<QString> FormMain::settingsLostText() const
{
    if (!m_settingsLost || m_startup->storeProblemTold())
        return std::nullopt;
    return CRegister::takeProblemReport().value_or(
        QStringLiteral("The settings could not be saved to %1; changes made now will not be "
                       "kept.")
            .arg(CRegister::databasePath()));
}

void FormMain::closeWithoutAsking()
{
    Form_Unload();
    // The session is ending: no box, but the reason goes where the session's messages go.
    if (const auto lost = settingsLostText())
        qWarning().noquote() << *lost;
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
    m_settingsLost = !m_mainSettings.save(CRegister());
    AudioCDGrabber2->Close();
}

void FormMain::Cmdgrab_Click()
{
    // A new user's first rip goes to the default folder, which nobody has made yet.
    if (const QString folder = m_output->folder(); folder == MainSettings::defaultOutputFolder())
        QDir().mkpath(folder);
    m_batch->Cmdgrab_Click();
}

void FormMain::cmdCancel_Click()
{
    m_batch->cmdCancel_Click();
}

bool FormMain::trackGrabbing() const
{
    return m_batch->trackGrabbing();
}

void FormMain::Command3_Click()
{
    m_play->play();
}

void FormMain::previewClosed()
{
    m_play->dialogClosed();
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

int FormMain::outputFormat() const
{
    return m_output->format();
}

void FormMain::Combo2_Click(const QString& text)
{
    m_output->chooseFormat(text);
}

void FormMain::C1_Click()
{
    m_output->showFormatSettings();
}

void FormMain::C2_Click()
{
    m_output->chooseFolder();
}
