#include "app/outputoptions.h"

#include "app/apptext.h"
#include "app/userdialogs.h"
#include "components/cdgrabber.h"
#include "encoders/frmmp3.h"
#include "encoders/frmogg.h"
#include "encoders/frmwma.h"
#include "grab/trackoutput.h"
#include "settings/mainsettings.h"

#include <QLineEdit>

OutputOptions::OutputOptions(CdGrabber& grabber, UserDialogs& dialogs, MainSettings& settings,
                             QWidget& window, QLineEdit& folder)
    : m_grabber(grabber), m_dialogs(dialogs), m_settings(settings), m_window(window),
      m_folder(folder)
{
}

QString OutputOptions::folder() const
{
    return m_folder.text();
}

void OutputOptions::chooseFormat(const QString& text)
{
    const std::optional<quint8> code = trackoutput::formatCode(text);
    if (!code)
        return;
    OutputFormat = *code;
    // Only WAV is remembered as the last format; a choice of another format is not saved.
    if (OutputFormat == trackoutput::FormatWav)
        m_settings.LastOutputFormat = text;
}

void OutputOptions::showFormatSettings()
{
    switch (OutputFormat) {
    case trackoutput::FormatWav:
        m_dialogs.ask(&m_window, {QStringLiteral("Options for WAV format are not available!"),
                                  apptext::title(), MessageBox::Buttons::Ok, MessageBox::Icon::None,
                                  MessageBox::Answer::Ok});
        break;
    case trackoutput::FormatMp3:
        if (OutputFile* file = m_grabber.AudioFile())
            showSettingsDialog(new frmmp3(*file, m_dialogs, &m_window), "frmmp3");
        break;
    case trackoutput::FormatWma:
        if (OutputFile* file = m_grabber.AudioFile())
            showSettingsDialog(new frmwma(*file, m_appliedWmaProfile, &m_window), "frmwma");
        break;
    case trackoutput::FormatOgg:
        if (OutputFile* file = m_grabber.AudioFile())
            showSettingsDialog(new frmogg(*file, m_dialogs, &m_window), "frmogg");
        break;
    default:
        break;
    }
}

void OutputOptions::showSettingsDialog(QDialog* dialog, const char* name)
{
    // Built afresh at every opening and gone once closed; modal to the window without blocking
    // the event loop, so the window's own events (a disc change, say) still run meanwhile.
    dialog->setObjectName(QLatin1String(name));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void OutputOptions::chooseFolder()
{
    const QString folder =
        m_dialogs.chooseFolder(&m_window, QStringLiteral("Select a folder"), m_folder.text());
    // An empty answer is a cancelled choice.
    if (folder.isEmpty())
        return;
    m_folder.setText(folder);
    m_settings.OutputFolder = folder;
}
