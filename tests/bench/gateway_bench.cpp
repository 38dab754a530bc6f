// The submit round trip through GatewayConnection against a bare socket client doing the
// identical exchange (one 258-byte send, one receive of up to 129 bytes) with the same server,
// and the heap allocations made per submit on the client's thread.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "counting_allocator.h"
#include "gateway_connection.h"

namespace {

using vrl::gateway::kRequestSize;
using vrl::gateway::kResponseSize;

bool read_exactly(int fd, std::uint8_t* data, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::recv(fd, data + got, size - got, 0);
        if (n <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

void no_delay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Answers every 258-byte request with the same 129-byte reply: status 0, a message id.
class BenchServer {
public:
    BenchServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            ::listen(listener_, 16) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
            std::abort();
        }
        port_ = ntohs(local.sin_port);
        reply_.fill(0);
        const std::string id = "1000001";
        std::copy(id.begin(), id.end(), reply_.begin() + 1);
        acceptor_ = std::thread([this] { accept_loop(); });
    }
    ~BenchServer() {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        acceptor_.join();
        for (auto& t : workers_) {
            t.join();
        }
    }
    std::uint16_t port() const { return port_; }

private:
    void accept_loop() {
        for (;;) {
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0) {
                return;
            }
            no_delay(fd);
            workers_.emplace_back([this, fd] { serve(fd); });
        }
    }
    void serve(int fd) {
        std::array<std::uint8_t, kRequestSize> request{};
        while (read_exactly(fd, request.data(), request.size()) &&
               ::send(fd, reply_.data(), reply_.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(reply_.size())) {
        }
        ::close(fd);
    }

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::array<std::uint8_t, kResponseSize> reply_{};
    std::thread acceptor_;
    std::vector<std::thread> workers_;
};

BenchServer& server() {
    static BenchServer s;
    return s;
}

void report_allocations(benchmark::State& state, std::size_t before) {
    state.counters["allocs_per_submit"] = benchmark::Counter(
        static_cast<double>(vrl::bench::thread_allocations() - before) / static_cast<double>(state.iterations()));
}

void BM_GatewayConnectionSubmit(benchmark::State& state) {
    vrl::gateway::GatewayConnection connection;
    if (connection.start("127.0.0.1", std::to_string(server().port()), "demo", "demo") != 0) {
        state.SkipWithError("login failed");
        return;
    }
    const std::size_t before = vrl::bench::thread_allocations();
    for (auto _ : state) {
        const vrl::gateway::GatewayResult r = connection.submit("0912345678", "hello from the benchmark");
        if (r.status != 0) {
            state.SkipWithError("submit failed");
            break;
        }
        benchmark::DoNotOptimize(r.text.data());
    }
    report_allocations(state, before);
    connection.end();
}

// The identical exchange on a bare socket: one send of the whole request, one receive.
void BM_BareSocketSubmit(benchmark::State& state) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(server().port());
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
        state.SkipWithError("connect failed");
        return;
    }
    vrl::gateway::GatewayRequest request;
    vrl::gateway::GatewayResponse response;
    vrl::gateway::build_request(request, vrl::gateway::Command::Submit,
                                {"0912345678", "hello from the benchmark", vrl::gateway::kMarkerNow});
    const std::size_t before = vrl::bench::thread_allocations();
    for (auto _ : state) {
        if (::send(fd, request.bytes.data(), request.bytes.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(request.bytes.size()) ||
            ::recv(fd, response.bytes.data(), response.bytes.size(), 0) <= 0) {
            state.SkipWithError("exchange failed");
            break;
        }
        benchmark::DoNotOptimize(response.bytes.data());
    }
    report_allocations(state, before);
    ::close(fd);
}

BENCHMARK(BM_GatewayConnectionSubmit)->UseRealTime();
BENCHMARK(BM_BareSocketSubmit)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
