#include "ui/frmabout.h"

#include "app/apptext.h"
#include "app/userdialogs.h"
#include "components/skin/skin.h"
#include "components/skin/skinlabel.h"
#include "ui/skinform.h"

#include <QCoreApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <QVersionNumber>

QString aboutVersionLine(int major, int minor, int revision)
{
    return QStringLiteral("Version %1.%2.0.%3").arg(major).arg(minor).arg(revision);
}

frmabout::frmabout(UserDialogs& dialogs, const QString& programFolder, QWidget* owner)
    : QDialog(owner), m_dialogs(dialogs), m_skinPath(programFolder + QStringLiteral("/main.skn")),
      Skin1(new Skin(this))
{
    setObjectName(QStringLiteral("frmabout"));
    setWindowTitle(QStringLiteral("About"));
    setModal(true);

    auto label = [this](const char* name, const QString& text) {
        auto* l = new SkinLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setWordWrap(true);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return l;
    };
    lblTitle = label("lblTitle", QStringLiteral("Application Title"));
    lblVersion = label("lblVersion", QStringLiteral("Version"));
    Label1 = label("Label1", QStringLiteral("Web site: https://tambrel.org\n"
                                            "E-mail: support@tambrel.org"));
    lblDisclaimer =
        label("lblDisclaimer",
              QStringLiteral("Warning: this computer program is protected by copyright law and "
                             "international treaties. Unauthorised reproduction or distribution of "
                             "this program, or of any part of it, may lead to civil and criminal "
                             "penalties, and will be prosecuted."));
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblTitle);
    layout->addWidget(lblVersion);
    layout->addSpacing(8);
    layout->addWidget(Label1);
    layout->addSpacing(8);
    layout->addWidget(lblDisclaimer);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    layout->addLayout(buttons);
}

bool frmabout::Form_Load()
{
    setFixedWidth(458);
    if (!QFile::exists(m_skinPath)) {
        m_dialogs.ask(parent(),
                      {QStringLiteral("Can't load skin file"), apptext::title(),
                       MessageBox::Buttons::Ok, MessageBox::Icon::None, MessageBox::Answer::Ok});
        close();
        return false;
    }
    Skin1->LoadSkinFile(m_skinPath);
    Skin1->SkinWindow(this, QStringLiteral("small form"));
    if (Skin* mainSkin = Skin::ofWindow(parentWidget()))
        SkinForm(*mainSkin, this);
    for (SkinLabel* l : {lblTitle, lblVersion, lblDisclaimer, Label1})
        Skin1->SkinWindow(l, QStringLiteral("Label"));
    Skin1->SkinWindow(cmdOK, QStringLiteral("DefaultButt"));

    const QVersionNumber version =
        QVersionNumber::fromString(QCoreApplication::applicationVersion());
    lblVersion->setText(
        aboutVersionLine(version.majorVersion(), version.minorVersion(), version.microVersion()));
    lblTitle->setText(apptext::title());
    adjustSize();
    return true;
}
