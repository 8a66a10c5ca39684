#include "components/skin/skin.h"

#include "components/skin/skincommands.h"

#include <QAbstractButton>
#include <QFile>
#include <QStyle>
#include <QWidget>

namespace
{

// Qt reports a style sheet it can't parse only as a warning, while polishing a widget that has
// it. The warning is caught here instead of going to the log.
bool parses(const QString& styleSheet)
{
    static bool failed = false;
    failed = false;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtWarningMsg && text.contains(QLatin1String("Could not parse")))
                failed = true;
        });
    {
        QWidget probe;
        probe.setStyleSheet(styleSheet);
        probe.ensurePolished();
    }
    qInstallMessageHandler(previous);
    return !failed;
}

} // namespace

Skin::Skin(QObject* parent) : QObject(parent) {}

bool Skin::LoadSkinFile(const QString& path)
{
    m_styleSheet.clear();
    m_problem.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        m_problem = QStringLiteral("Can't read the skin file %1: %2").arg(path, file.errorString());
        return false;
    }
    const QString sheet = QString::fromUtf8(file.readAll());
    if (sheet.trimmed().isEmpty() || !parses(sheet)) {
        m_problem = QStringLiteral("The skin file %1 is not a style sheet").arg(path);
        return false;
    }
    m_styleSheet = sheet;
    return true;
}

void Skin::SkinWindow(QWidget* widget, const QString& elementName)
{
    if (!widget)
        return;
    widget->setProperty(ElementProperty, elementName);
    if (widget->isWindow()) {
        if (elementName == QLatin1String("form"))
            addSkinCommands(*this, widget, FormCommands);
        // A player's window (it has the play button) gets the player's commands.
        else if (elementName == QLatin1String("small form") &&
                 widget->findChild<QAbstractButton*>(QStringLiteral("cmdPlay")))
            addSkinCommands(*this, widget, PlayerCommands);
        // An empty sheet gives the window back the platform style.
        widget->setStyleSheet(m_styleSheet);
    }
    // The player's buttons carry no caption: the skin draws their glyphs.
    if (auto* button = qobject_cast<QAbstractButton*>(widget);
        button && (elementName == QLatin1String("play1") || elementName == QLatin1String("stop")))
        button->setIcon(skinGlyph(elementName, button));
    // A rule that selects by the element name applies only once the widget is polished again.
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    widget->update();
}

Skin* Skin::ofWindow(QWidget* widget)
{
    for (QWidget* w = widget; w; w = w->parentWidget()) {
        if (auto* skin = w->findChild<Skin*>(QString(), Qt::FindDirectChildrenOnly))
            return skin;
    }
    return nullptr;
}
