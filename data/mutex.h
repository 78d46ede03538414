// A mutex, its scoped lock and a condition variable, annotated so that
// clang's thread-safety analysis checks the members marked GUARDED_BY.
//
// Mutex and CondVar are neither copyable nor movable. Any thread.
#pragma once

#include <condition_variable>
#include <mutex>

#include "data/thread_annotations.h"

namespace dg {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { mu_.lock(); }
  void Unlock() RELEASE() { mu_.unlock(); }

 private:
  friend class CondVar;
  std::mutex mu_;
};

// Holds the mutex for the life of the guard.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mu) ACQUIRE(mu) : mu_(mu) { mu_.Lock(); }
  ~MutexLock() RELEASE() { mu_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mu_;
};

// Waits on one mutex's guarded state.
class CondVar {
 public:
  explicit CondVar(Mutex& mu) : mu_(mu) {}
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  // Releases the mutex until another thread signals, and holds it again
  // on return; a wake-up may come without a signal, so wait in a loop over
  // the condition. `mu` is the mutex given at construction, named again so
  // that the lock analysis sees the caller holds it.
  void Wait([[maybe_unused]] Mutex& mu) REQUIRES(mu) {
    std::unique_lock<std::mutex> lock(mu_.mu_, std::adopt_lock);
    cv_.wait(lock);
    lock.release();
  }
  void Signal() { cv_.notify_one(); }

 private:
  Mutex& mu_;
  std::condition_variable cv_;
};

}  // namespace dg
