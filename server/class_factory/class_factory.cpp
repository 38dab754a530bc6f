#include "class_factory.h"

#include <new>

#include "allocator.h"
#include "component_module.h"
#include "interface_table.h"

namespace vrl::server {
namespace {

const InterfaceTableRow kClassFactoryTable[] = {
    OffsetRow(IID_IClassFactory, 0),
    EndRow,
};

}  // namespace

// The frame relies on this layout: table of methods, count, instance creator, CacheLock.
static_assert(sizeof(ClassFactory) == 3 * sizeof(void*) + sizeof(CRITICAL_SECTION));

HRESULT STDMETHODCALLTYPE ClassFactory::QueryInterface(REFIID riid, void** ppv) {
    return TableQueryInterface(this, kClassFactoryTable, riid, ppv);
}

ULONG STDMETHODCALLTYPE ClassFactory::AddRef() {
    CriticalSectionScope hold(CacheLock);
    const LONG count = ::InterlockedIncrement(&count_);
    if (count == 2) {
        LockModule();
    }
    return static_cast<ULONG>(count);
}

ULONG STDMETHODCALLTYPE ClassFactory::Release() {
    LONG count;
    {
        CriticalSectionScope hold(CacheLock);
        ::InterlockedDecrement(&count_);
        count = count_;
    }
    if (count == 0) {
        Destroy();
    } else if (count == 1) {
        UnlockModule();
    }
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE ClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    *ppvObject = nullptr;
    if (pUnkOuter != nullptr && !SameId(riid, IID_IUnknown)) {
        return CLASS_E_NOAGGREGATION;
    }
    return instance_creator_(pUnkOuter, riid, ppvObject);
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL fLock) {
    if (fLock) {
        LockModule();
    } else {
        UnlockModule();
    }
    return S_OK;
}

void ClassFactory::Destroy() noexcept {
    count_ = 1;
    this->~ClassFactory();
    vrl::FreeMemory(this);
}

HRESULT WINAPI CreateClassFactory(void* instance_creator, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    void* const memory = AllocateMemory(sizeof(ClassFactory));
    if (memory == nullptr) {
        return E_OUTOFMEMORY;
    }
    auto* const factory = new (memory) ClassFactory(reinterpret_cast<ObjectCreator>(instance_creator));
    const HRESULT result = factory->QueryInterface(riid, ppv);
    if (result != S_OK) {
        factory->Destroy();
    }
    return result;
}

}  // namespace vrl::server
