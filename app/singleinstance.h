#pragma once

#include <QLockFile>

#include <memory>

// One running program per user: the first instance holds a lock file in the user's runtime
// folder for as long as it runs.
class SingleInstance
{
public:
    SingleInstance();

    // False when another instance of the program holds the lock.
    bool isFirst() const { return m_first; }

private:
    std::unique_ptr<QLockFile> m_lock;
    bool m_first = false;
};
