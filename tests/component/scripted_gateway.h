#pragma once
// A one-connection gateway for the cases the simulator does not play: it accepts one client on
// 127.0.0.1, answers each 258-byte request with the next scripted reply (raw bytes), followed by
// the stray bytes in a write of their own if there are any, then waits until the client closes
// the connection and records that it did.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vrl::test {

class ScriptedGateway {
public:
    explicit ScriptedGateway(std::vector<std::string> replies, std::string stray = {});
    ScriptedGateway(const ScriptedGateway&) = delete;
    ScriptedGateway& operator=(const ScriptedGateway&) = delete;
    ~ScriptedGateway();

    std::uint16_t port() const { return port_; }
    // Waits up to timeout_ms for the client to close its side of the connection.
    bool WaitForClientClose(int timeout_ms);
    // Waits up to timeout_ms until count writes (replies and strays) have been sent.
    bool WaitForWrites(int count, int timeout_ms);
    // The requests received, 258 bytes each.
    std::vector<std::string> Requests();

private:
    void Serve();

    std::vector<std::string> replies_;
    std::string stray_;
    std::atomic<int> writes_{0};
    std::uintptr_t listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> client_closed_{false};
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

}  // namespace vrl::test
