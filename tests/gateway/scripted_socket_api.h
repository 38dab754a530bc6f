#pragma once
// A SocketApi with a scripted peer and a clock of its own: no socket and no real wait. Each
// request, once all 258 bytes are sent, starts its answer: pieces that arrive at given delays,
// one receive call per piece at most, and possibly the peer's close. Blocking calls move the clock
// to the next arrival or to the end of their time-out, so every time limit is exact and every run
// is the same. It records what a hostile-gateway test checks: the requests, and any byte sent
// after the peer had closed.

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string_view>
#include <utility>
#include <vector>

#include "socket_api.h"

namespace vrl::gateway::test {

class ScriptedSocketApi final : public SocketApi {
public:
    using Bytes = std::vector<std::uint8_t>;
    using Ms = std::chrono::milliseconds;

    // Bytes that arrive `after` the previous event of the same answer (the first: after the request).
    // A close event ends the peer's side; nothing of the answer after it arrives.
    struct Event {
        Ms after{0};
        Bytes bytes;
        bool close = false;
    };
    using Answer = std::vector<Event>;

    static Event piece(Ms after, Bytes bytes) { return {after, std::move(bytes), false}; }
    static Event closing(Ms after) { return {after, {}, true}; }

    // The answer to the next request not yet given one; requests beyond the script get none.
    void answer(Answer events) { answers_.push_back(std::move(events)); }
    // What resolve() gives for any name; empty: the name does not resolve.
    void resolves_to(std::vector<Endpoint> endpoints) { resolved_ = std::move(endpoints); }
    // The next connects fail after taking the given time each; later ones succeed at once.
    void refuse_connect(Ms takes) { refusals_.push_back(takes); }
    // The caller's own pause between operations.
    void idle(Ms time) { now_ += time; }

    Clock::time_point now() noexcept override { return now_; }
    Ms elapsed_since(Clock::time_point start) const { return std::chrono::duration_cast<Ms>(now_ - start); }

    // Whole requests sent, and bytes sent once the peer had closed (never acceptable).
    const std::vector<Bytes>& requests() const { return requests_; }
    std::size_t bytes_sent_after_close() const { return sent_after_close_; }
    Ms receive_timeout() const { return receive_timeout_; }
    const std::vector<Endpoint>& connect_attempts() const { return attempts_; }
    const std::vector<Ms>& connect_timeouts() const { return connect_timeouts_; }
    bool balanced() const { return startups_ == cleanups_ && open_sockets_ == 0; }

    int startup() noexcept override {
        ++startups_;
        return 0;
    }
    void cleanup() noexcept override { ++cleanups_; }

    std::uint32_t inet_addr(std::string_view text) noexcept override {
        return text == "127.0.0.1" ? std::bit_cast<std::uint32_t>(std::array<std::uint8_t, 4>{127, 0, 0, 1})
                                   : kAddressNone;
    }

    int resolve(std::string_view, std::uint16_t port, Endpoints& out) noexcept override {
        out.count = 0;
        for (const Endpoint& e : resolved_) {
            if (out.count < out.items.size()) {
                out.items[out.count] = e;
                out.items[out.count].port = port;
                ++out.count;
            }
        }
        return out.count > 0 ? 0 : -1;
    }

    SocketHandle open_stream(AddressFamily) noexcept override {
        ++open_sockets_;
        return kSocket;
    }

    int connect(SocketHandle, const Endpoint& peer, Ms timeout) noexcept override {
        attempts_.push_back(peer);
        connect_timeouts_.push_back(timeout);
        if (timeout.count() <= 0) {
            return -1;
        }
        if (!refusals_.empty()) {
            now_ += std::min(refusals_.front(), timeout);
            refusals_.pop_front();
            return -1;
        }
        reset_peer();
        return 0;
    }

    long send(SocketHandle, const std::uint8_t* data, std::size_t size) noexcept override {
        arrive();
        if (peer_closed_) {
            sent_after_close_ += size;
        }
        pending_.insert(pending_.end(), data, data + size);
        while (pending_.size() >= kRequestBytes) {
            requests_.emplace_back(pending_.begin(), pending_.begin() + kRequestBytes);
            pending_.erase(pending_.begin(), pending_.begin() + kRequestBytes);
            start_answer();
        }
        return static_cast<long>(size);
    }

    int set_receive_timeout(SocketHandle, Ms timeout) noexcept override {
        if (timeout.count() <= 0) {
            return -1;
        }
        receive_timeout_ = timeout;
        return 0;
    }

    long recv(SocketHandle, std::uint8_t* data, std::size_t size) noexcept override {
        return wait_for_arrival(receive_timeout_) ? take(data, size) : -1;
    }

    long recv_waiting(SocketHandle, std::uint8_t* data, std::size_t size) noexcept override {
        arrive();
        return inbox_.empty() ? kNothingWaiting : take(data, size);
    }

    int wait_readable(SocketHandle, Ms timeout) noexcept override { return wait_for_arrival(timeout) ? 1 : 0; }

    void shutdown_send(SocketHandle) noexcept override {}
    void close(SocketHandle) noexcept override { --open_sockets_; }

private:
    static constexpr SocketHandle kSocket = 7;
    static constexpr std::size_t kRequestBytes = 258;

    struct Arrival {
        Clock::time_point at;
        Bytes bytes;
        bool close;
    };

    void reset_peer() {
        scheduled_.clear();
        inbox_.clear();
        pending_.clear();
        peer_closed_ = false;
    }

    void start_answer() {
        if (answers_.empty()) {
            return;
        }
        Clock::time_point at = now_;
        for (Event& e : answers_.front()) {
            at += e.after;
            scheduled_.push_back({at, std::move(e.bytes), e.close});
            if (e.close) {
                break;
            }
        }
        answers_.pop_front();
        std::stable_sort(scheduled_.begin(), scheduled_.end(),
                         [](const Arrival& a, const Arrival& b) { return a.at < b.at; });
    }

    // Moves what has arrived by now into the inbox; nothing arrives after the peer's close.
    void arrive() {
        while (!scheduled_.empty() && scheduled_.front().at <= now_ && !peer_closed_) {
            Arrival a = std::move(scheduled_.front());
            scheduled_.pop_front();
            peer_closed_ = a.close;
            if (!a.bytes.empty() || a.close) {
                inbox_.push_back(std::move(a));
            }
        }
    }

    // True once something can be read (bytes or the close), moving the clock as far as needed
    // but never beyond the time-out.
    bool wait_for_arrival(Ms timeout) {
        const Clock::time_point limit = now_ + std::max(timeout, Ms(0));
        arrive();
        while (inbox_.empty()) {
            if (peer_closed_ || scheduled_.empty() || scheduled_.front().at > limit) {
                now_ = limit;
                return false;
            }
            now_ = std::max(now_, scheduled_.front().at);
            arrive();
        }
        return true;
    }

    long take(std::uint8_t* data, std::size_t size) {
        Arrival& front = inbox_.front();
        if (front.close) {
            return 0;  // stays: every later receive sees the close too
        }
        const std::size_t n = std::min(size, front.bytes.size());
        std::copy_n(front.bytes.begin(), n, data);
        front.bytes.erase(front.bytes.begin(), front.bytes.begin() + static_cast<std::ptrdiff_t>(n));
        if (front.bytes.empty()) {
            inbox_.pop_front();
        }
        return static_cast<long>(n);
    }

    Clock::time_point now_ = Clock::time_point{} + std::chrono::hours(1);
    std::deque<Answer> answers_;
    std::deque<Arrival> scheduled_;
    std::deque<Arrival> inbox_;
    Bytes pending_;
    std::vector<Bytes> requests_;
    std::vector<Endpoint> resolved_;
    std::deque<Ms> refusals_;
    std::vector<Endpoint> attempts_;
    std::vector<Ms> connect_timeouts_;
    bool peer_closed_ = false;
    std::size_t sent_after_close_ = 0;
    Ms receive_timeout_{0};
    int startups_ = 0;
    int cleanups_ = 0;
    int open_sockets_ = 0;
};

}  // namespace vrl::gateway::test
