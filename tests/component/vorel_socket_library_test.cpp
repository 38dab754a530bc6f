// The socket library beneath StartCon: when it cannot be started, the caller's status variable must
// say so, not keep a value that could read as a successful login; when many threads start and clean
// it up at once, no connection may lose its socket to another's cleanup.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "VRLCOM.h"
#include "child_process.h"
#include "com_ptr.h"
#include "vorel.h"
#include "vorel_creators.h"

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

// STA threads, as in a web server's pool, each opening and ending connections with objects of its
// own. The gateway is another process and nothing else here holds a start of the socket library, so
// its count falls to zero whenever no thread holds a connection; the platform's cleanup then closes
// every socket of the process, also one that another thread has just made after its own start. Two
// threads bring the count to zero most often: with more, one of them nearly always holds a start.
TEST(VorelSocketLibrary, ConcurrentConnectionsKeepTheirSockets) {
    constexpr int kThreads = 2;
    constexpr int kConnections = 10000;
    const BackgroundProcess simulator(L"\"" + WindowsPath(VRL_SIMULATOR_PATH) + L"\" --port 0");
    const std::wstring port = ListeningPort(simulator);
    ASSERT_FALSE(port.empty());

    std::atomic<int> failures{0};
    std::latch all_ready(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            const HRESULT apartment = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            EXPECT_EQ(apartment, S_OK);
            const Bstr ip(L"127.0.0.1");
            const Bstr port_text(port.c_str());
            const Bstr demo(L"demo");
            all_ready.arrive_and_wait();
            for (int i = 0; i < kConnections; ++i) {
                ComPtr<IVorel> vorel;
                int status = 12345;
                if (server::CreateVorel(nullptr, IID_IVorel, vorel.put_void()) != S_OK ||
                    vorel->StartCon(ip.get(), port_text.get(), demo.get(), demo.get(), &status) != S_OK ||
                    status != 0) {
                    ++failures;
                }
                if (vorel.get() != nullptr) {
                    vorel->EndCon();
                }
            }
            if (SUCCEEDED(apartment)) {
                ::CoUninitialize();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0) << "of " << kThreads * kConnections << " connections";
}

}  // namespace
}  // namespace vrl::test
