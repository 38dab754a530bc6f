// StartCon when the socket library cannot be started: the caller's status variable must say so,
// not keep a value that could read as a successful login.
#include <gtest/gtest.h>

#include "VRLCOM.h"
#include "vorel.h"

namespace vrl::test {
namespace {

// Sockets whose library never starts; nothing else may be reached.
class NoSocketLibrary final : public gateway::SocketApi {
public:
    int startup() noexcept override {
        ++startups;
        return 10091;  // WSASYSNOTREADY
    }
    void cleanup() noexcept override { ++other_calls; }
    Clock::time_point now() noexcept override { return {}; }
    std::uint32_t inet_addr(std::string_view) noexcept override { return gateway::kAddressNone; }
    int resolve(std::string_view, std::uint16_t, gateway::Endpoints&) noexcept override {
        ++other_calls;
        return -1;
    }
    gateway::SocketHandle open_stream(gateway::AddressFamily) noexcept override {
        ++other_calls;
        return gateway::kInvalidSocket;
    }
    int connect(gateway::SocketHandle, const gateway::Endpoint&, std::chrono::milliseconds) noexcept override {
        ++other_calls;
        return -1;
    }
    int set_receive_timeout(gateway::SocketHandle, std::chrono::milliseconds) noexcept override {
        ++other_calls;
        return -1;
    }
    long send(gateway::SocketHandle, const std::uint8_t*, std::size_t) noexcept override {
        ++other_calls;
        return -1;
    }
    long recv(gateway::SocketHandle, std::uint8_t*, std::size_t) noexcept override {
        ++other_calls;
        return -1;
    }
    long recv_waiting(gateway::SocketHandle, std::uint8_t*, std::size_t) noexcept override {
        ++other_calls;
        return -1;
    }
    int wait_readable(gateway::SocketHandle, std::chrono::milliseconds) noexcept override {
        ++other_calls;
        return -1;
    }
    void shutdown_send(gateway::SocketHandle) noexcept override { ++other_calls; }
    void close(gateway::SocketHandle) noexcept override { ++other_calls; }

    int startups = 0;
    int other_calls = 0;
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// A Vorel on the stack, over the sockets above; its lifetime is the test's.
class StackVorel final : public component::Vorel {
public:
    explicit StackVorel(gateway::SocketApi& sockets) : Vorel(sockets) {}
    ~StackVorel() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};
#pragma GCC diagnostic pop

TEST(VorelSocketLibrary, StartConWithoutTheSocketLibraryReportsMinusOne) {
    NoSocketLibrary sockets;
    StackVorel vorel(sockets);
    BSTR ip = ::SysAllocString(L"127.0.0.1");
    BSTR port = ::SysAllocString(L"7000");
    int status = 0;
    EXPECT_EQ(vorel.StartCon(ip, port, ip, ip, &status), S_OK);
    EXPECT_EQ(status, -1);
    EXPECT_EQ(sockets.startups, 1);
    EXPECT_EQ(sockets.other_calls, 0);
    EXPECT_FALSE(vorel.IsConnected());
    ::SysFreeString(ip);
    ::SysFreeString(port);
}

}  // namespace
}  // namespace vrl::test
