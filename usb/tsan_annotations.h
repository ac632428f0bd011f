// Orderings that ThreadSanitizer cannot see on its own, told to it.
//
// The distribution's Qt is not built with ThreadSanitizer: a QMutex parks
// on a futex inside the Qt library and QThread::wait() returns through
// Qt's own locks, so neither the order a QMutex gives nor the end of a
// QThread is visible to it. For a lock or a thread the program owns, these
// say so. Outside a ThreadSanitizer build they are empty.
#pragma once

#include <QMutex>

#if defined(__SANITIZE_THREAD__)
#define QUORLAN_TSAN_ANNOTATIONS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUORLAN_TSAN_ANNOTATIONS 1
#endif
#endif

#ifdef QUORLAN_TSAN_ANNOTATIONS
#include <sanitizer/tsan_interface.h>
#endif

namespace tsan {

// Everything this thread did so far happens before whatever a later
// acquire() of the same address does.
inline void release([[maybe_unused]] const void* token)
{
#ifdef QUORLAN_TSAN_ANNOTATIONS
    __tsan_release(const_cast<void*>(token));
#endif
}

inline void acquire([[maybe_unused]] const void* token)
{
#ifdef QUORLAN_TSAN_ANNOTATIONS
    __tsan_acquire(const_cast<void*>(token));
#endif
}

// release(token) when the scope ends, on every way out of it.
class ReleaseAtExit
{
public:
    explicit ReleaseAtExit(const void* token) : m_token(token) {}
    ~ReleaseAtExit() { release(m_token); }
    ReleaseAtExit(const ReleaseAtExit&) = delete;
    ReleaseAtExit& operator=(const ReleaseAtExit&) = delete;

private:
    const void* m_token;
};

// Holds a QMutex for its scope, like QMutexLocker, and shows it to
// ThreadSanitizer as a mutex: it then orders the holders and checks the
// order in which locks are taken.
class MutexLocker
{
public:
    explicit MutexLocker(QMutex* mutex) : m_mutex(mutex)
    {
#ifdef QUORLAN_TSAN_ANNOTATIONS
        __tsan_mutex_pre_lock(m_mutex, 0);
#endif
        m_mutex->lock();
#ifdef QUORLAN_TSAN_ANNOTATIONS
        __tsan_mutex_post_lock(m_mutex, 0, 0);
#endif
    }
    ~MutexLocker()
    {
#ifdef QUORLAN_TSAN_ANNOTATIONS
        __tsan_mutex_pre_unlock(m_mutex, 0);
#endif
        m_mutex->unlock();
#ifdef QUORLAN_TSAN_ANNOTATIONS
        __tsan_mutex_post_unlock(m_mutex, 0);
#endif
    }
    MutexLocker(const MutexLocker&) = delete;
    MutexLocker& operator=(const MutexLocker&) = delete;

private:
    QMutex* m_mutex;
};

} // namespace tsan
