#include "components/skin/skincommands.h"

#include "components/skin/skin.h"

#include <QBoxLayout>
#include <QIconEngine>
#include <QMainWindow>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QToolButton>

namespace
{

const auto StripName = QStringLiteral("skinCommands");

QString glyphOf(const QString& element)
{
    if (element.startsWith(QLatin1String("play")))
        return QStringLiteral("play");
    if (element == QLatin1String("stop"))
        return QStringLiteral("cancel");
    return element;
}

// Draws a command's glyph in the colour of its button's text, so that it follows the skin (and
// the platform style without one), sharp at every scale.
class GlyphEngine final : public QIconEngine
{
public:
    GlyphEngine(QString element, QWidget* button) : m_glyph(glyphOf(element)), m_button(button) {}

    QIconEngine* clone() const override { return new GlyphEngine(m_glyph, m_button); }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap image(size);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paint(&painter, QRect(QPoint(), size), mode, state);
        return image;
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        QColor colour = m_button ? m_button->palette().color(QPalette::ButtonText) : Qt::black;
        if (mode == QIcon::Disabled)
            colour.setAlphaF(0.4f);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        // The glyphs are drawn on a 16 by 16 grid.
        const qreal side = qMin(rect.width(), rect.height());
        painter->translate(rect.center() - QPointF(side / 2, side / 2) + QPointF(0.5, 0.5));
        painter->scale(side / 16.0, side / 16.0);
        QPen pen(colour, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter->setPen(pen);
        if (m_glyph == QLatin1String("convert")) {
            painter->drawLine(QPointF(8, 1.5), QPointF(8, 10.5));
            painter->drawPolyline(QPolygonF({{4, 7}, {8, 11}, {12, 7}}));
            painter->drawLine(QPointF(2.5, 14.2), QPointF(13.5, 14.2));
        } else if (m_glyph == QLatin1String("play")) {
            painter->setBrush(colour);
            painter->drawPolygon(QPolygonF({{4.5, 2.5}, {13, 8}, {4.5, 13.5}}));
        } else if (m_glyph == QLatin1String("cancel")) {
            painter->setBrush(colour);
            painter->drawRoundedRect(QRectF(3.5, 3.5, 9, 9), 1.5, 1.5);
        } else {
            // Help and About: a letter in a ring.
            painter->drawEllipse(QRectF(1.5, 1.5, 13, 13));
            QFont font = painter->font();
            font.setBold(true);
            font.setPixelSize(10);
            painter->setFont(font);
            painter->drawText(QRectF(1.5, 1.5, 13, 13), Qt::AlignCenter,
                              m_glyph == QLatin1String("help") ? QStringLiteral("?")
                                                               : QStringLiteral("i"));
        }
        painter->restore();
    }

private:
    QString m_glyph;
    QPointer<QWidget> m_button;
};

QToolButton* commandButton(Skin& skin, const SkinCommand& command, QWidget* strip)
{
    const QString element = QLatin1String(command.element);
    auto* button = new QToolButton(strip);
    button->setObjectName(element);
    button->setProperty(Skin::ElementProperty, element);
    button->setText(QLatin1String(command.caption));
    button->setAccessibleName(QLatin1String(command.caption));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setIcon(skinGlyph(element, button));
    button->setFocusPolicy(Qt::StrongFocus);
    button->setAutoRaise(true);
    QObject::connect(button, &QToolButton::clicked, &skin,
                     [&skin, element] { emit skin.ElementAction(SkinElement(element)); });
    return button;
}

} // namespace

QIcon skinGlyph(const QString& element, QWidget* button)
{
    return QIcon(new GlyphEngine(element, button));
}

void addSkinCommands(Skin& skin, QWidget* window, std::span<const SkinCommand> commands)
{
    if (window->findChild<QWidget*>(StripName))
        return;
    auto* strip = new QWidget(window);
    strip->setObjectName(StripName);
    strip->setAccessibleName(QStringLiteral("Commands"));
    // Style sheets paint a plain widget's background only when asked to.
    strip->setAttribute(Qt::WA_StyledBackground);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(8, 6, 8, 6);
    row->setSpacing(4);
    // Of five commands, the last two stand apart; a shorter strip keeps its commands together.
    const auto apart = commands.size() > 2 ? commands.size() - 2 : commands.size();
    for (std::size_t k = 0; k < commands.size(); ++k) {
        if (k == apart)
            row->addStretch(1);
        row->addWidget(commandButton(skin, commands[k], strip));
    }
    if (apart == commands.size())
        row->addStretch(1);

    if (auto* mainWindow = qobject_cast<QMainWindow*>(window))
        mainWindow->setMenuWidget(strip);
    else if (auto* layout = qobject_cast<QBoxLayout*>(window->layout()))
        layout->insertWidget(0, strip);
}
