#include "ui/skinform.h"

#include "components/skin/skin.h"
#include "components/skin/skinlabel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>

QString skinElementName(const QWidget* control)
{
    if (qobject_cast<const QPushButton*>(control)) {
        if (control->objectName() == QLatin1String("cmdPlay"))
            return QStringLiteral("play1");
        if (control->objectName() == QLatin1String("cmdStop"))
            return QStringLiteral("stop");
        return QStringLiteral("Button");
    }
    if (qobject_cast<const SkinLabel*>(control))
        return QStringLiteral("label");
    if (qobject_cast<const QGroupBox*>(control))
        return QStringLiteral("Frame");
    if (qobject_cast<const QCheckBox*>(control))
        return QStringLiteral("CheckBox");
    if (qobject_cast<const QComboBox*>(control))
        return QStringLiteral("ComboBox");
    if (qobject_cast<const QRadioButton*>(control))
        return QStringLiteral("Radio");
    if (qobject_cast<const QStatusBar*>(control))
        return QStringLiteral("Statusbar");
    if (qobject_cast<const QTabWidget*>(control))
        return QStringLiteral("tab");
    return {};
}

void SkinForm(Skin& skin, QWidget* window)
{
    const QList<QWidget*> controls = window->findChildren<QWidget*>();
    for (QWidget* control : controls) {
        // Other windows (an open dialog, a menu) and what is in them skin themselves.
        if (control->window() != window)
            continue;
        if (const QString element = skinElementName(control); !element.isEmpty())
            skin.SkinWindow(control, element);
    }
}

void skinDialog(QWidget* dialog)
{
    Skin* skin = Skin::ofWindow(dialog->parentWidget());
    if (!skin)
        return;
    skin->SkinWindow(dialog, QStringLiteral("small form"));
    SkinForm(*skin, dialog);
}
