#pragma once

#include <QString>

namespace telvox {

// The lock that lets one program run per folder: an advisory lock on a file, held by the
// system for the open file. It goes when the process ends in any way (a crash, a kill, a power
// cut), so there is never a stale lock to guess about, and taking it writes nothing that must
// reach the disk. The file keeps the holder's process id for people who look.
class InstanceLock
{
public:
    enum class Result { Taken, HeldElsewhere, Failed };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    // Tries once, without waiting. `reason` gets the system's reason when it Failed.
    Result tryLock(const QString &path, QString *reason = nullptr);
    bool isLocked() const { return m_fd >= 0; }
    // Lets go (also done when the object goes). The file stays: removing it would let a
    // second process lock the removed file while a third creates a new one.
    void unlock();

private:
    int m_fd = -1;
};

} // namespace telvox
