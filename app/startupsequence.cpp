#include "app/startupsequence.h"

#include "app/apptext.h"
#include "app/userdialogs.h"
#include "components/cdgrabber.h"
#include "components/skin/skin.h"
#include "components/skin/splash.h"
#include "encoders/storedencodersettings.h"
#include "settings/cregister.h"
#include "settings/mainsettings.h"
#include "ui/skinform.h"

#include <QWidget>

StartupSequence::StartupSequence(QWidget& window, Skin& skin, UserDialogs& dialogs)
    : m_window(window), m_skin(skin), m_dialogs(dialogs), m_splash(new Splash(&window))
{
}

void StartupSequence::begin(const QString& programFolder)
{
    m_splash->SetFile(programFolder + QStringLiteral("/Moravel.spl"));
    m_splash->Open(0);

    if (!m_skin.LoadSkinFile(programFolder + QStringLiteral("/main.skn")))
        qWarning("%s; the windows keep the platform style.", qPrintable(m_skin.problem()));
    m_skin.SkinWindow(&m_window, QStringLiteral("form"));
    SkinForm(m_skin, &m_window);
}

MainSettings StartupSequence::loadSettings()
{
    MainSettings settings = MainSettings::load(CRegister());
    if (const auto problem = CRegister::takeProblemReport()) {
        m_problems << *problem;
        m_storeProblemTold = true;
    }
    return settings;
}

void StartupSequence::applyStoredEncoderSettings(CdGrabber& grabber)
{
    if (OutputFile* file = grabber.AudioFile())
        applyAllStoredEncoderSettings(*file, CRegister());
}

void StartupSequence::noteProblem(const QString& problem)
{
    m_problems << problem;
}

void StartupSequence::end()
{
    m_splash->SetVisible(false);
}

void StartupSequence::tellProblems()
{
    const QStringList problems = std::exchange(m_problems, {});
    for (const QString& problem : problems)
        m_dialogs.ask(&m_window, {problem, apptext::title(), MessageBox::Buttons::Ok,
                                  MessageBox::Icon::Critical, MessageBox::Answer::Ok});
}
