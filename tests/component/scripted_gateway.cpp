#include "scripted_gateway.h"

#include <winsock2.h>

#include <chrono>
#include <stdexcept>
#include <string>

#include "com_ptr.h"

namespace vrl::test {
namespace {

constexpr int kRequestSize = 258;

bool ReceiveAll(SOCKET s, char* data, int size) {
    int got = 0;
    while (got < size) {
        const int n = ::recv(s, data + got, size - got, 0);
        if (n <= 0) {
            return false;
        }
        got += n;
    }
    return true;
}

}  // namespace

ScriptedGateway::ScriptedGateway(std::vector<std::string> replies) : replies_(std::move(replies)) {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        throw std::runtime_error("WSAStartup");
    }
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (listener == INVALID_SOCKET || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener, 1) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    listener_ = listener;
    port_ = ::ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

ScriptedGateway::~ScriptedGateway() {
    ::closesocket(static_cast<SOCKET>(listener_));
    thread_.join();
    ::WSACleanup();
}

void ScriptedGateway::Serve() {
    const SOCKET client = ::accept(static_cast<SOCKET>(listener_), nullptr, nullptr);
    if (client == INVALID_SOCKET) {
        return;
    }
    for (const std::string& reply : replies_) {
        std::string request(kRequestSize, '\0');
        if (!ReceiveAll(client, request.data(), kRequestSize)) {
            break;
        }
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        ::send(client, reply.data(), static_cast<int>(reply.size()), 0);
    }
    char byte;
    while (::recv(client, &byte, 1, 0) > 0) {
    }
    client_closed_ = true;
    ::closesocket(client);
}

bool ScriptedGateway::WaitForClientClose(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!client_closed_ && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return client_closed_;
}

int ScriptedGateway::StartCon(IVorel* vorel) const {
    Bstr ip(L"127.0.0.1");
    Bstr port(std::to_wstring(port_).c_str());
    Bstr user(L"demo");
    int status = -1000;
    return vorel->StartCon(ip.get(), port.get(), user.get(), user.get(), &status) == S_OK ? status : -1000;
}

std::vector<std::string> ScriptedGateway::Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

}  // namespace vrl::test
