#pragma once

#include <QObject>
#include <QString>

class QWidget;

// The element of the skin that the user acted on.
class SkinElement
{
public:
    explicit SkinElement(QString name) : m_name(std::move(name)) {}
    QString ElementName() const { return m_name; }

private:
    QString m_name;
};

// The skin object. A skin file is a Qt style sheet whose rules select widgets by their element
// name, e.g. QPushButton[skinElement="Button"]. SkinWindow names the element a window or a
// control is drawn as; a window also gets the loaded sheet, which reaches every widget in it.
// Windows drawn as "form" get the skin's command elements, which raise ElementAction.
class Skin final : public QObject
{
    Q_OBJECT

public:
    // The dynamic property that holds a widget's element name.
    static constexpr const char* ElementProperty = "skinElement";

    explicit Skin(QObject* parent = nullptr);

    // Loads the skin file at path. False when it can't be read or is not a style sheet; the
    // windows drawn afterwards keep the platform style, and problem() says what went wrong.
    bool LoadSkinFile(const QString& path);
    bool loaded() const { return !m_styleSheet.isEmpty(); }
    QString problem() const { return m_problem; }

    // Draws the window or control as the named element.
    void SkinWindow(QWidget* widget, const QString& elementName);

    // The skin of the window that holds widget (or of a window above it): the skin object that
    // is a direct child of that window. Null when there is none.
    static Skin* ofWindow(QWidget* widget);

signals:
    void ElementAction(const SkinElement& Element);

private:
    QString m_styleSheet;
    QString m_problem;
};
