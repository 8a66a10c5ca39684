#pragma once

#include <QtGlobal>

#include <optional>

class CdGrabber;
class QDialog;
class QLineEdit;
class QString;
class QWidget;
class UserDialogs;
struct MainSettings;

// The output format and folder the user chose, and the chosen format's settings dialog. The
// format list's text becomes the format code grabs encode to; the folder shows in its box. The
// main window's settings keep what is remembered of both.
class OutputOptions
{
public:
    OutputOptions(CdGrabber& grabber, UserDialogs& dialogs, MainSettings& settings, QWidget& window,
                  QLineEdit& folder);

    // trackoutput::FormatCode, or 0 before a format was chosen.
    int format() const { return OutputFormat; }
    QString folder() const;

    // A format list's text; one that names no format changes nothing.
    void chooseFormat(const QString& text);
    // The settings dialog of the chosen format (WAV has none: the user is told so).
    void showFormatSettings();
    // Asks the user for the output folder.
    void chooseFolder();

private:
    void showSettingsDialog(QDialog* dialog, const char* name);

    CdGrabber& m_grabber;
    UserDialogs& m_dialogs;
    MainSettings& m_settings;
    QWidget& m_window;
    QLineEdit& m_folder;
    quint8 OutputFormat = 0;
    // The WMA profile last confirmed in its dialog during this run; Cancel there goes back to it.
    std::optional<int> m_appliedWmaProfile;
};
