#pragma once
// The class object of Vorel. The object map's row keeps one reference to it, which does not lock
// the module; client references do: the count reaching 2 locks the module once, and falling back
// to 1 unlocks it. Each change of the count and its threshold test run together under CacheLock.

#include "critical_section.h"
#include "object_creator.h"
#include "vrl_platform.h"

namespace vrl::server {

// COM objects end through Release, never through a delete of an interface pointer: the
// interfaces have no virtual destructor by design.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(ObjectCreator instance_creator) noexcept : instance_creator_(instance_creator) {}
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

    LONG Count() const noexcept { return count_; }

private:
    friend HRESULT WINAPI CreateClassFactory(void* instance_creator, REFIID riid, void** ppv);
    ~ClassFactory() = default;
    void Destroy() noexcept;

    volatile LONG count_ = 0;
    ObjectCreator instance_creator_;
    CriticalSection CacheLock;
};
#pragma GCC diagnostic pop

// argument: the ObjectCreator of the instances. Hands out the new factory's riid interface.
HRESULT WINAPI CreateClassFactory(void* instance_creator, REFIID riid, void** ppv);

}  // namespace vrl::server
