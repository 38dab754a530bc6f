#include "vorel.h"

#include "narrow_text.h"
#include "result_text.h"

namespace vrl::component {

// The connection's frames keep their sizes on the wire.
static_assert(sizeof(gateway::GatewayRequest) == 258);
static_assert(sizeof(gateway::GatewayResponse) == 129);

Vorel::Vorel(gateway::SocketApi& sockets) noexcept : ref_count_(0), connection_(sockets) {
    connection_.set_end_hook(&Vorel::EndThroughTable, static_cast<IVorel*>(this));
}

void Vorel::EndThroughTable(void* self) noexcept {
    static_cast<IVorel*>(self)->EndCon();
}

// This library uses no application framework: the framework module-state scope that each method
// would open is empty, and the methods start with their arguments.

HRESULT STDMETHODCALLTYPE Vorel::StartCon(BSTR ServerIP, BSTR ServerPort, BSTR UserID, BSTR Passwd,
                                          int* pVal) {
    if (pVal == nullptr) {
        return E_POINTER;
    }
    NarrowText server_ip(NarrowText::Kind::Address);
    NarrowText server_port(NarrowText::Kind::Address);
    NarrowText user_id(NarrowText::Kind::SecretField);
    NarrowText passwd(NarrowText::Kind::SecretField);
    if (!server_ip.Assign(ServerIP) || !server_port.Assign(ServerPort) || !user_id.Assign(UserID) ||
        !passwd.Assign(Passwd)) {
        return E_OUTOFMEMORY;
    }
    const std::int32_t status =
        connection_.start(server_ip.View(), server_port.View(), user_id.View(), passwd.View());
    // Also without the socket library (-1): a caller whose variable held 0 must not read the
    // unwritten status as a successful login.
    *pVal = status;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Vorel::SendMsg(BSTR MobileNum, BSTR Message, int* pVal, BSTR* pBVal) {
    if (pVal == nullptr || pBVal == nullptr) {
        return E_POINTER;
    }
    NarrowText mobile_num;
    NarrowText message;
    ResultText text;
    if (!mobile_num.Assign(MobileNum) || !message.Assign(Message) || !text.Reserve()) {
        return E_OUTOFMEMORY;
    }
    const gateway::GatewayResult result = connection_.submit(mobile_num.View(), message.View());
    *pVal = result.status;
    text.Store(result.text, pBVal);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Vorel::SendMsg_Order(BSTR MobileNum, BSTR Message, BSTR Send_Time, int* pVal,
                                               BSTR* pBVal) {
    if (pVal == nullptr || pBVal == nullptr) {
        return E_POINTER;
    }
    NarrowText mobile_num;
    NarrowText message;
    NarrowText send_time;
    ResultText text;
    if (!mobile_num.Assign(MobileNum) || !message.Assign(Message) || !send_time.Assign(Send_Time) ||
        !text.Reserve()) {
        return E_OUTOFMEMORY;
    }
    const gateway::GatewayResult result =
        connection_.submit_at(mobile_num.View(), message.View(), send_time.View());
    *pVal = result.status;
    text.Store(result.text, pBVal);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Vorel::QueryMsg(BSTR MobileNum, BSTR MessageID, int* pVal, BSTR* pBVal) {
    if (pVal == nullptr || pBVal == nullptr) {
        return E_POINTER;
    }
    NarrowText mobile_num;
    NarrowText message_id;
    ResultText text;
    if (!mobile_num.Assign(MobileNum) || !message_id.Assign(MessageID) || !text.Reserve()) {
        return E_OUTOFMEMORY;
    }
    const gateway::GatewayResult result = connection_.query(mobile_num.View(), message_id.View());
    *pVal = result.status;
    text.Store(result.text, pBVal);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Vorel::EndCon() {
    connection_.end();
    return S_OK;
}

}  // namespace vrl::component
