#pragma once

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTreeWidget;

// The main window's controls: the drive list and Refresh, the track list and its menu, the FreeDB
// box, the format and folder with Settings and Browse, Convert, Play and Cancel, and the status
// bar with its progress bar. Each has the object name, caption and accessible name the user, the
// skin and the tests know it by; the window connects them to its handlers.
struct MainControls {
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
    QLabel* statusPanel1 = nullptr;
    QProgressBar* pbProgressBar = nullptr;
    QMenu* mnuPopup = nullptr;
    QAction* menucheck = nullptr;
    QAction* menuuncheck = nullptr;

    // Makes every control as a child of window and lays them out. Tab walks them in the order
    // they are made, and the skin draws them in that order too. Convert, Play, Cancel and the
    // FreeDB box start disabled; nothing is chosen in the format list.
    static MainControls build(QMainWindow& window);

    // Idle (true): every command control enabled and Cancel disabled; grabbing (false): the other
    // way round. Refresh is not one of them.
    void setCommandsEnabled(bool enabled) const;
};
