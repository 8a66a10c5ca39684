#include "app/singleinstance.h"

#include <QDir>
#include <QStandardPaths>

SingleInstance::SingleInstance()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    m_lock = std::make_unique<QLockFile>(folder + QStringLiteral("/tambrel.lock"));
    // Never stale by age, however long this instance runs; a lock whose process has died is
    // still taken over (QLockFile checks the process).
    m_lock->setStaleLockTime(0);
    m_first = m_lock->tryLock(0);
}
