#pragma once
// Vorel, the component object behind IVorel: it owns one gateway connection, turns the wide-string
// arguments of its five methods into narrow text in the ANSI code page, runs the matching
// connection operation and writes status and text into the caller's out-parameters.
//
// Reference counting and QueryInterface belong to the forms the class factory builds: a plain
// object counts its own references, one contained in an aggregate delegates to its outer object.
// Both keep the layout hosts and the frame rely on: table of methods, one word for the count or
// the outer pointer, then the connection.

#include <cstdint>

#include "VRLCOM.h"
#include "gateway_connection.h"

namespace vrl::component {

// COM objects end through Release, never through a delete of an interface pointer: the
// interfaces have no virtual destructor by design.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class Vorel : public IVorel {
public:
    Vorel(const Vorel&) = delete;
    Vorel& operator=(const Vorel&) = delete;

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                            DISPID* rgDispId) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                     EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    // IVorel. Every method answers S_OK and reports the outcome through pVal and pBVal, except
    // for a null pVal or pBVal (E_POINTER) and for memory that cannot be had (E_OUTOFMEMORY);
    // both are refused before anything is sent. The one allocation of a call is the caller's
    // result string (and the copy of a server address over 255 bytes).
    HRESULT STDMETHODCALLTYPE StartCon(BSTR ServerIP, BSTR ServerPort, BSTR UserID, BSTR Passwd,
                                       int* pVal) override;
    HRESULT STDMETHODCALLTYPE SendMsg(BSTR MobileNum, BSTR Message, int* pVal, BSTR* pBVal) override;
    HRESULT STDMETHODCALLTYPE SendMsg_Order(BSTR MobileNum, BSTR Message, BSTR Send_Time, int* pVal,
                                            BSTR* pBVal) override;
    HRESULT STDMETHODCALLTYPE QueryMsg(BSTR MobileNum, BSTR MessageID, int* pVal, BSTR* pBVal) override;
    HRESULT STDMETHODCALLTYPE EndCon() override;

    bool IsConnected() const noexcept { return connection_.is_open(); }

protected:
    explicit Vorel(gateway::SocketApi& sockets = gateway::system_socket_api()) noexcept;
    // The connection's own destructor ends a connection still open, so that releasing the last
    // reference closes the socket and balances the socket library.
    ~Vorel() = default;

    // The plain object's reference count, or the outer object's IUnknown in an aggregate (held
    // without a reference of its own).
    union {
        LONG ref_count_;
        IUnknown* outer_;
    };

private:
    // Where the connection has to end after a failure, the object calls its own EndCon through
    // its table of methods, exactly as a caller would.
    static void EndThroughTable(void* self) noexcept;

    gateway::GatewayConnection connection_;
};
#pragma GCC diagnostic pop

}  // namespace vrl::component
