#include "components/skin/splash.h"

#include <QApplication>
#include <QEvent>
#include <QPixmap>
#include <QSplashScreen>
#include <QTimer>

Splash::Splash(QWidget* owner) : QObject(owner), m_owner(owner) {}

Splash::~Splash() = default;

void Splash::SetFile(const QString& path)
{
    m_path = path;
}

void Splash::Open(int)
{
    // The file holds a PNG image whatever its name says.
    QPixmap image;
    if (m_path.isEmpty() || !image.load(m_path, "PNG"))
        return;
    m_screen = std::make_unique<QSplashScreen>(image);
    m_screen->setObjectName(QStringLiteral("splash"));
    m_screen->setAccessibleName(QStringLiteral("Tambrel is starting"));
    m_screen->show();
    // Drawn now: the event loop runs only once start-up is done.
    m_screen->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void Splash::SetVisible(bool visible)
{
    if (visible || !m_screen)
        return;
    // Until the owner window is on the screen the image stays, so that there is no moment
    // without either.
    if (!m_owner || m_owner->isVisible()) {
        close();
        return;
    }
    m_owner->installEventFilter(this);
    // Should the window never show, the image goes anyway.
    QTimer::singleShot(5000, this, &Splash::close);
}

bool Splash::isShown() const
{
    return m_screen && m_screen->isVisible();
}

bool Splash::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_owner && event->type() == QEvent::Show)
        QTimer::singleShot(0, this, &Splash::close);
    return QObject::eventFilter(watched, event);
}

void Splash::close()
{
    if (m_owner)
        m_owner->removeEventFilter(this);
    m_screen.reset();
}
