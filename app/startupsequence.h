#pragma once

#include <QStringList>

class CdGrabber;
class QString;
class QWidget;
class Skin;
class Splash;
class UserDialogs;
struct MainSettings;

// What start-up does beside filling the window's controls: the splash from the first step until
// the window is on the screen, the skin file loaded and drawn on the window, the settings and
// the encoder settings of earlier runs read, and the problems met on the way kept to be told once
// the window is up.
class StartupSequence
{
public:
    // The splash is made here, a child of window.
    StartupSequence(QWidget& window, Skin& skin, UserDialogs& dialogs);

    // The splash shows; the window takes the skin file from the program's folder. Without the
    // file the program still starts, in the platform style.
    void begin(const QString& programFolder);
    // The main window's settings; a store that can't keep changes is noted as a problem.
    MainSettings loadSettings();
    // The encoder settings saved in earlier runs are in force from the start, not only once their
    // dialog has been confirmed again.
    static void applyStoredEncoderSettings(CdGrabber& grabber);
    void noteProblem(const QString& problem);
    // The splash goes once the window is on the screen.
    void end();

    bool hasProblems() const { return !m_problems.isEmpty(); }
    // The user has heard at start-up that the settings store can't keep changes.
    bool storeProblemTold() const { return m_storeProblemTold; }
    // Tells each problem noted, once.
    void tellProblems();

private:
    QWidget& m_window;
    Skin& m_skin;
    UserDialogs& m_dialogs;
    Splash* m_splash;
    QStringList m_problems;
    bool m_storeProblemTold = false;
};
