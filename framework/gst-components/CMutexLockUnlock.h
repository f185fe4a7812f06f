// Scoped lock over a POSIX mutex: locked by the constructor, unlocked by the destructor.
#ifndef CMUTEX_LOCK_UNLOCK_H
#define CMUTEX_LOCK_UNLOCK_H

#include <pthread.h>

class CMutexLockUnlock
{
public:
    explicit CMutexLockUnlock(pthread_mutex_t& rhMutex);
    ~CMutexLockUnlock();

    CMutexLockUnlock(const CMutexLockUnlock&) = delete;
    CMutexLockUnlock& operator=(const CMutexLockUnlock&) = delete;

private:
    pthread_mutex_t& m_rhMutex;
};

#endif // CMUTEX_LOCK_UNLOCK_H
