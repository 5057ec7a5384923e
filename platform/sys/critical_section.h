#pragma once
// A critical section: re-entrant, owned by the thread that entered it.
#include <mutex>

class CriticalSectionLock {
public:
    CriticalSectionLock() = default;
    ~CriticalSectionLock() = default;
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }
    bool TryEnter() { return mutex_.try_lock(); }

private:
    std::recursive_mutex mutex_;
};

// Enters on construction, leaves on destruction.
class ScopedSection {
public:
    explicit ScopedSection(CriticalSectionLock& lock) : lock_(lock) { lock_.Enter(); }
    ~ScopedSection() { lock_.Leave(); }
    ScopedSection(const ScopedSection&) = delete;
    ScopedSection& operator=(const ScopedSection&) = delete;

private:
    CriticalSectionLock& lock_;
};
