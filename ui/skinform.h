#pragma once

#include <QString>

class QWidget;
class Skin;

// The element a control is drawn as, by its kind: a command button is "Button" ("play1" and
// "stop" for the buttons named exactly cmdPlay and cmdStop), then "label", "Frame", "CheckBox",
// "ComboBox", "Radio", "Statusbar" and "tab". Other kinds are not skinned: an empty name.
QString skinElementName(const QWidget* control);

// Draws every control of window, nested ones too, in creation order, as its element.
void SkinForm(Skin& skin, QWidget* window);

// A dialog's own skinning step: the dialog as "small form", then its controls, through the skin
// of the window that owns it. Nothing happens when that window has no skin.
void skinDialog(QWidget* dialog);
