#include "gst-components/CMutexLockUnlock.h"

CMutexLockUnlock::CMutexLockUnlock(pthread_mutex_t& rhMutex) : m_rhMutex(rhMutex)
{
    pthread_mutex_lock(&m_rhMutex);
}

CMutexLockUnlock::~CMutexLockUnlock()
{
    pthread_mutex_unlock(&m_rhMutex);
}
