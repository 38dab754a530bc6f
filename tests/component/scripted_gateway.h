#pragma once
// A one-connection gateway for the cases the simulator does not play: it accepts one client on
// 127.0.0.1, answers each 258-byte request with the next scripted reply (raw bytes), then waits
// until the client closes the connection and records that it did.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "VRLCOM.h"

namespace vrl::test {

class ScriptedGateway {
public:
    explicit ScriptedGateway(std::vector<std::string> replies);
    ScriptedGateway(const ScriptedGateway&) = delete;
    ScriptedGateway& operator=(const ScriptedGateway&) = delete;
    ~ScriptedGateway();

    std::uint16_t port() const { return port_; }
    // Calls the object's StartCon on 127.0.0.1 and this gateway's port as demo:demo; the status,
    // or a value no gateway gives when the call itself failed.
    int StartCon(IVorel* vorel) const;
    // Waits up to timeout_ms for the client to close its side of the connection.
    bool WaitForClientClose(int timeout_ms);
    // The requests received, 258 bytes each.
    std::vector<std::string> Requests();

private:
    void Serve();

    std::vector<std::string> replies_;
    std::uintptr_t listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> client_closed_{false};
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

}  // namespace vrl::test
