#pragma once

#include <QLabel>

// A label the skin draws: the skin gives it an element of its own, where a plain label keeps the
// look of the window around it.
class SkinLabel : public QLabel
{
    Q_OBJECT

public:
    using QLabel::QLabel;
};
