#pragma once
// Locks used by channels, queues and event callers. Non-recursive; any thread.

namespace ThreadLib {

class ReadWriteMutex {
 public:
  ReadWriteMutex();
  ~ReadWriteMutex();
  ReadWriteMutex(const ReadWriteMutex&) = delete;
  ReadWriteMutex& operator=(const ReadWriteMutex&) = delete;

  void LockRead();
  void LockWrite();
  // Releases whichever mode the calling thread holds.
  void Unlock();

 private:
  struct Impl;
  Impl* m_impl;
};

class ThreadMutex {
 public:
  ThreadMutex();
  ~ThreadMutex();
  ThreadMutex(const ThreadMutex&) = delete;
  ThreadMutex& operator=(const ThreadMutex&) = delete;

  void Lock();
  void Unlock();
  // For std::lock_guard / std::unique_lock.
  void lock() { Lock(); }
  void unlock() { Unlock(); }

 private:
  struct Impl;
  Impl* m_impl;
};

// Scoped holders.
class ReadLock {
 public:
  explicit ReadLock(ReadWriteMutex& m) : m_m(m) { m_m.LockRead(); }
  ~ReadLock() { m_m.Unlock(); }
  ReadLock(const ReadLock&) = delete;
  ReadLock& operator=(const ReadLock&) = delete;

 private:
  ReadWriteMutex& m_m;
};

class WriteLock {
 public:
  explicit WriteLock(ReadWriteMutex& m) : m_m(m) { m_m.LockWrite(); }
  ~WriteLock() { m_m.Unlock(); }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

 private:
  ReadWriteMutex& m_m;
};

}  // namespace ThreadLib
