#include "libthread/ThreadLib.h"

#include <pthread.h>

namespace ThreadLib {

struct ReadWriteMutex::Impl {
  pthread_rwlock_t lock;
};

ReadWriteMutex::ReadWriteMutex() : m_impl(new Impl) { pthread_rwlock_init(&m_impl->lock, nullptr); }
ReadWriteMutex::~ReadWriteMutex() {
  pthread_rwlock_destroy(&m_impl->lock);
  delete m_impl;
}
void ReadWriteMutex::LockRead() { pthread_rwlock_rdlock(&m_impl->lock); }
void ReadWriteMutex::LockWrite() { pthread_rwlock_wrlock(&m_impl->lock); }
void ReadWriteMutex::Unlock() { pthread_rwlock_unlock(&m_impl->lock); }

struct ThreadMutex::Impl {
  pthread_mutex_t mutex;
};

ThreadMutex::ThreadMutex() : m_impl(new Impl) { pthread_mutex_init(&m_impl->mutex, nullptr); }
ThreadMutex::~ThreadMutex() {
  pthread_mutex_destroy(&m_impl->mutex);
  delete m_impl;
}
void ThreadMutex::Lock() { pthread_mutex_lock(&m_impl->mutex); }
void ThreadMutex::Unlock() { pthread_mutex_unlock(&m_impl->mutex); }

}  // namespace ThreadLib
