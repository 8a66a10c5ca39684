#include "app/maincontrols.h"

#include "app/tracklistpresenter.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>

MainControls MainControls::build(QMainWindow& window)
{
    using Column = TrackListPresenter::Column;
    MainControls c;
    window.setObjectName(QStringLiteral("FormMain"));
    window.setWindowTitle(QStringLiteral("Corvane"));

    auto button = [&window](const char* name, const QString& caption, bool enabled) {
        auto* b = new QPushButton(caption, &window);
        b->setObjectName(QLatin1String(name));
        b->setEnabled(enabled);
        return b;
    };
    c.Cmdgrab = button("Cmdgrab", QStringLiteral("Convert"), false);
    c.Command3 = button("Command3", QStringLiteral("Play"), false);
    c.cmdCancel = button("cmdCancel", QStringLiteral("Cancel"), false);
    c.Command1 = button("Command1", QStringLiteral("Refresh"), true);
    c.C1 = button("C1", QStringLiteral("Settings"), true);
    c.C2 = button("C2", QStringLiteral("Browse"), true);

    c.chkFreedbInfo = new QCheckBox(
        QStringLiteral("Get CD Album information from FreeDB on disc insertion or refreshing"),
        &window);
    c.chkFreedbInfo->setObjectName(QStringLiteral("chkFreedbInfo"));
    c.chkFreedbInfo->setEnabled(false);

    auto* driveFrame = new QGroupBox(QStringLiteral("CD-ROM view"), &window);
    driveFrame->setObjectName(QStringLiteral("frmCdromView"));
    c.Combo1 = new QComboBox(driveFrame);
    c.Combo1->setObjectName(QStringLiteral("Combo1"));
    c.Combo1->setAccessibleName(QStringLiteral("CD-ROM view"));
    c.Combo1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    auto* driveRow = new QHBoxLayout;
    driveRow->addWidget(c.Combo1, 1);
    driveRow->addWidget(c.Command1);

    QTreeWidget* tracks = c.TrackListView = new QTreeWidget(driveFrame);
    tracks->setObjectName(QStringLiteral("TrackListView"));
    tracks->setAccessibleName(QStringLiteral("Tracks"));
    tracks->setRootIsDecorated(false);
    tracks->setUniformRowHeights(true);
    tracks->setAllColumnsShowFocus(true);
    tracks->setHeaderLabels({QString(), QStringLiteral("Track Name"), QStringLiteral("Type"),
                             QStringLiteral("Duration"), QStringLiteral("Percent")});
    tracks->header()->setStretchLastSection(false);
    tracks->header()->resizeSection(Column::ColumnCheck, 32);
    tracks->header()->resizeSection(Column::ColumnName, 180);
    tracks->header()->resizeSection(Column::ColumnType, 80);
    tracks->header()->resizeSection(Column::ColumnDuration, 100);
    tracks->header()->setSectionResizeMode(Column::ColumnPercent, QHeaderView::Stretch);
    tracks->setContextMenuPolicy(Qt::CustomContextMenu);

    auto* frameLayout = new QVBoxLayout(driveFrame);
    frameLayout->addLayout(driveRow);
    frameLayout->addWidget(tracks, 1);
    frameLayout->addWidget(c.chkFreedbInfo);

    c.Combo2 = new QComboBox(&window);
    c.Combo2->setObjectName(QStringLiteral("Combo2"));
    c.Combo2->addItems({QStringLiteral("WAV"), QStringLiteral("MP3"), QStringLiteral("WMA"),
                        QStringLiteral("OGG")});
    // Nothing is chosen until the saved format is put in at start-up.
    c.Combo2->setCurrentIndex(-1);
    auto* encoderLabel = new QLabel(QStringLiteral("Encoder"), &window);
    encoderLabel->setBuddy(c.Combo2);

    c.txtFolder = new QLineEdit(&window);
    c.txtFolder->setObjectName(QStringLiteral("txtFolder"));
    c.txtFolder->setReadOnly(true);
    auto* folderLabel = new QLabel(QStringLiteral("Output folder"), &window);
    folderLabel->setBuddy(c.txtFolder);

    auto* outputGrid = new QGridLayout;
    outputGrid->addWidget(encoderLabel, 0, 0);
    outputGrid->addWidget(c.Combo2, 0, 1);
    outputGrid->addWidget(c.C1, 0, 2);
    outputGrid->addWidget(folderLabel, 1, 0);
    outputGrid->addWidget(c.txtFolder, 1, 1);
    outputGrid->addWidget(c.C2, 1, 2);
    outputGrid->setColumnStretch(1, 1);

    auto* commands = new QHBoxLayout;
    commands->addStretch(1);
    commands->addWidget(c.Cmdgrab);
    commands->addWidget(c.Command3);
    commands->addWidget(c.cmdCancel);

    auto* central = new QWidget(&window);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(driveFrame, 1);
    layout->addLayout(outputGrid);
    layout->addLayout(commands);
    window.setCentralWidget(central);

    c.stBarStatus = new QStatusBar(&window);
    c.stBarStatus->setObjectName(QStringLiteral("stBarStatus"));
    c.stBarStatus->setSizeGripEnabled(false);
    c.statusPanel1 = new QLabel(QStringLiteral("Ready"), c.stBarStatus);
    c.statusPanel1->setObjectName(QStringLiteral("stBarStatusPanel1"));
    c.stBarStatus->addWidget(c.statusPanel1, 1);
    // The second panel is where the progress bar shows during a grab.
    auto* panel2 = new QWidget(c.stBarStatus);
    panel2->setObjectName(QStringLiteral("stBarStatusPanel2"));
    panel2->setFixedWidth(220);
    auto* panel2Layout = new QHBoxLayout(panel2);
    panel2Layout->setContentsMargins(0, 0, 0, 0);
    c.pbProgressBar = new QProgressBar(panel2);
    c.pbProgressBar->setObjectName(QStringLiteral("pbProgressBar"));
    c.pbProgressBar->setRange(0, 100);
    c.pbProgressBar->setAccessibleName(QStringLiteral("Progress"));
    panel2Layout->addWidget(c.pbProgressBar);
    c.stBarStatus->addPermanentWidget(panel2);
    window.setStatusBar(c.stBarStatus);

    c.mnuPopup = new QMenu(QStringLiteral("popupmenu"), &window);
    c.mnuPopup->setObjectName(QStringLiteral("mnuPopup"));
    c.menucheck = c.mnuPopup->addAction(QStringLiteral("check all"));
    c.menucheck->setObjectName(QStringLiteral("menucheck"));
    c.menuuncheck = c.mnuPopup->addAction(QStringLiteral("uncheck all"));
    c.menuuncheck->setObjectName(QStringLiteral("menuuncheck"));

    window.resize(640, 480);
    return c;
}

void MainControls::setCommandsEnabled(bool enabled) const
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
