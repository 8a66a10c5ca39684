#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QSplashScreen;
class QWidget;

// The image shown while the program starts. SetFile names the image, Open(0) shows it, and
// SetVisible(false) takes it away once the owner window is up. A missing or unreadable image
// shows nothing.
class Splash final : public QObject
{
    Q_OBJECT

public:
    explicit Splash(QWidget* owner);
    ~Splash() override;

    void SetFile(const QString& path);
    // Options other than 0 are kept for later looks; 0 shows the image centred on the screen.
    void Open(int options);
    void SetVisible(bool visible);

    bool isShown() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void close();

    QPointer<QWidget> m_owner;
    QString m_path;
    std::unique_ptr<QSplashScreen> m_screen;
};
