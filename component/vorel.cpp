#include "vorel.h"

#include <array>
#include <cstddef>
#include <string_view>

#include "narrow_text.h"
#include "result_text.h"

namespace vrl::component {

Vorel::Vorel(gateway::SocketApi& sockets) noexcept : ref_count_(0), connection_(sockets) {
    connection_.set_end_hook(&Vorel::EndThroughTable, static_cast<IVorel*>(this));
}

void Vorel::EndThroughTable(void* self) noexcept {
    static_cast<IVorel*>(self)->EndCon();
}

namespace {

// The course of SendMsg, SendMsg_Order and QueryMsg: the arguments are converted and the caller's
// result string reserved, and only then does the operation run on the fields' text, its status and
// text stored. So nothing reaches the gateway whose answer could not be handed back.
template <std::size_t N, class Operation>
HRESULT RunMessageCall(const BSTR (&arguments)[N], int* pVal, BSTR* pBVal, Operation operation) noexcept {
    if (pVal == nullptr || pBVal == nullptr) {
        return E_POINTER;
    }
    std::array<NarrowText, N> narrow;
    std::array<std::string_view, N> fields;
    for (std::size_t i = 0; i < N; ++i) {
        if (!narrow[i].Assign(arguments[i])) {
            return E_OUTOFMEMORY;
        }
        fields[i] = narrow[i].View();
    }
    ResultText text;
    if (!text.Reserve()) {
        return E_OUTOFMEMORY;
    }
    const gateway::GatewayResult result = operation(fields);
    *pVal = result.status;
    text.Store(result.text, pBVal);
    return S_OK;
}

}  // namespace

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
    return RunMessageCall({MobileNum, Message}, pVal, pBVal,
                          [this](const auto& f) { return connection_.submit(f[0], f[1]); });
}

HRESULT STDMETHODCALLTYPE Vorel::SendMsg_Order(BSTR MobileNum, BSTR Message, BSTR Send_Time, int* pVal,
                                               BSTR* pBVal) {
    return RunMessageCall({MobileNum, Message, Send_Time}, pVal, pBVal,
                          [this](const auto& f) { return connection_.submit_at(f[0], f[1], f[2]); });
}

HRESULT STDMETHODCALLTYPE Vorel::QueryMsg(BSTR MobileNum, BSTR MessageID, int* pVal, BSTR* pBVal) {
    return RunMessageCall({MobileNum, MessageID}, pVal, pBVal,
                          [this](const auto& f) { return connection_.query(f[0], f[1]); });
}

HRESULT STDMETHODCALLTYPE Vorel::EndCon() {
    connection_.end();
    return S_OK;
}

}  // namespace vrl::component
