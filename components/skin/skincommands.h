#pragma once

#include <QIcon>
#include <QString>

#include <span>

class QWidget;
class Skin;

// A command element the skin draws: its element name and the caption a user and a screen
// reader see.
struct SkinCommand {
    const char* element;
    const char* caption;
};

// The command elements of the main window.
inline constexpr SkinCommand FormCommands[] = {
    {"convert", "Convert"}, {"play", "Play"},   {"cancel", "Cancel"},
    {"help", "Help"},       {"about", "About"},
};

// The commands of the preview player's window.
inline constexpr SkinCommand PlayerCommands[] = {{"play2", "Play"}, {"stop", "Stop"}};

// The glyph the skin draws for a command element, in the colour of button's text.
QIcon skinGlyph(const QString& element, QWidget* button);

// Draws the commands as a strip across the top of window: real buttons, reached by Tab and
// named for screen readers, each raising the skin's element event with its element name. The
// last two stand apart at the far end. A window that already has its strip keeps it.
void addSkinCommands(Skin& skin, QWidget* window, std::span<const SkinCommand> commands);
