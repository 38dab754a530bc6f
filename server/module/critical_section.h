#pragma once
// A critical section owned for the lifetime of its holder, and a scope that holds it.

#include "vrl_platform.h"

namespace vrl::server {

class CriticalSection {
public:
    CriticalSection() noexcept { ::InitializeCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    ~CriticalSection() { ::DeleteCriticalSection(&section_); }

    void Enter() noexcept { ::EnterCriticalSection(&section_); }
    void Leave() noexcept { ::LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

class CriticalSectionScope {
public:
    explicit CriticalSectionScope(CriticalSection& section) noexcept : section_(section) { section_.Enter(); }
    CriticalSectionScope(const CriticalSectionScope&) = delete;
    CriticalSectionScope& operator=(const CriticalSectionScope&) = delete;
    ~CriticalSectionScope() { section_.Leave(); }

private:
    CriticalSection& section_;
};

static_assert(sizeof(CriticalSection) == sizeof(CRITICAL_SECTION));

}  // namespace vrl::server
