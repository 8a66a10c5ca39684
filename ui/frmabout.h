#pragma once

#include <QDialog>

class QPushButton;
class Skin;
class SkinLabel;
class UserDialogs;

// "Version 3.10.0.12": major, minor, the literal 0 and the revision, in plain decimal.
QString aboutVersionLine(int major, int minor, int revision);

// The About box: the title, the version, how to reach us and the legal warning, drawn with a
// skin object of its own loaded from the program's skin file.
class frmabout final : public QDialog
{
    Q_OBJECT

public:
    // owner is the main window, whose skin draws the box's controls first.
    frmabout(UserDialogs& dialogs, const QString& programFolder, QWidget* owner);

    // Sizes and skins the box and fills in title and version. False when the skin file is
    // missing: the user has been told and the box must not be shown.
    bool Form_Load();

private:
    UserDialogs& m_dialogs;
    QString m_skinPath;
    Skin* Skin1 = nullptr;
    SkinLabel* lblTitle = nullptr;
    SkinLabel* lblVersion = nullptr;
    SkinLabel* Label1 = nullptr;
    SkinLabel* lblDisclaimer = nullptr;
    QPushButton* cmdOK = nullptr;
};
