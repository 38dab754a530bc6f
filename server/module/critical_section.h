#pragma once
// Critical sections and a scope that holds one. CriticalSection lives exactly as long as its holder;
// ModuleCriticalSection is started and stopped explicitly, because the module record's locks are
// created at module initialisation and deleted at termination, inside a record that outlives both.

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

class ModuleCriticalSection {
public:
    constexpr ModuleCriticalSection() noexcept = default;
    ModuleCriticalSection(const ModuleCriticalSection&) = delete;
    ModuleCriticalSection& operator=(const ModuleCriticalSection&) = delete;

    void Start() noexcept { ::InitializeCriticalSection(&section_); }
    void Stop() noexcept { ::DeleteCriticalSection(&section_); }

    void Enter() noexcept { ::EnterCriticalSection(&section_); }
    void Leave() noexcept { ::LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_{};
};

template <class Lock>
class CriticalSectionScope {
public:
    explicit CriticalSectionScope(Lock& section) noexcept : section_(section) { section_.Enter(); }
    CriticalSectionScope(const CriticalSectionScope&) = delete;
    CriticalSectionScope& operator=(const CriticalSectionScope&) = delete;
    ~CriticalSectionScope() { section_.Leave(); }

private:
    Lock& section_;
};

static_assert(sizeof(CriticalSection) == sizeof(CRITICAL_SECTION));
static_assert(sizeof(ModuleCriticalSection) == sizeof(CRITICAL_SECTION));

}  // namespace vrl::server
