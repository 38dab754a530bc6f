#pragma once
// A Vorel object aggregated into an outer object. The outer object holds the inner IUnknown at the
// start of AggregatedVorel; every interface a client can see is the contained object's, whose
// AddRef and Release go to the outer object and whose QueryInterface asks the outer object first,
// so the aggregate has the outer object's identity and lifetime.

#include "vorel.h"

namespace vrl::server {

// COM objects end through Release, never through a delete of an interface pointer: the
// interfaces have no virtual destructor by design.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class ContainedVorel final : public component::Vorel {
public:
    explicit ContainedVorel(IUnknown* outer) noexcept { outer_ = outer; }
    ~ContainedVorel() = default;

    // Delegating: the outer object answers; if it refuses and is not this object's identity,
    // the object's own table answers instead.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
};

class AggregatedVorel final : public IUnknown {
public:
    explicit AggregatedVorel(IUnknown* outer) noexcept : contained_(outer) {}
    AggregatedVorel(const AggregatedVorel&) = delete;
    AggregatedVorel& operator=(const AggregatedVorel&) = delete;

    // The inner, non-delegating IUnknown.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    LONG InnerCount() const noexcept { return inner_count_; }
    ContainedVorel& Contained() noexcept { return contained_; }

private:
    ~AggregatedVorel() = default;
    void Destroy() noexcept;

    LONG inner_count_ = 0;
    ContainedVorel contained_;
};
#pragma GCC diagnostic pop

}  // namespace vrl::server
