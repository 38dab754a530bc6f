#pragma once
// A Vorel object created without an outer object: it counts its own references (plain increments;
// the object lives in one single-threaded apartment) and answers QueryInterface from its table.

#include "vorel.h"

namespace vrl::server {

// COM objects end through Release, never through a delete of an interface pointer: the
// interfaces have no virtual destructor by design.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class PlainVorel final : public component::Vorel {
public:
    PlainVorel() noexcept = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    LONG Count() const noexcept { return ref_count_; }

private:
    friend HRESULT WINAPI CreatePlainVorel(void* outer, REFIID riid, void** ppv);
    ~PlainVorel() = default;
    void Destroy() noexcept;
};
#pragma GCC diagnostic pop

}  // namespace vrl::server
