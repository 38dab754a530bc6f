#include "gateway_simulator.h"

#include <asio.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "simulator_trace.h"

namespace vrl::sim {

using asio::ip::tcp;

namespace {

constexpr int kDefaultSplitPauseMs = 200;
constexpr std::size_t kLongReplyText = kResponseSize - 1;

}  // namespace

std::vector<ReplyPiece> reply_pieces(const SimulatorOptions& options, std::vector<std::uint8_t> reply) {
    using std::chrono::milliseconds;
    const int arg = std::max(options.fault_arg, 0);
    auto cut = [&reply](std::size_t at, milliseconds pause) {
        at = std::min(at, reply.size());
        std::vector<ReplyPiece> pieces;
        pieces.push_back({std::vector<std::uint8_t>(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(at)), {}});
        pieces.push_back({std::vector<std::uint8_t>(reply.begin() + static_cast<std::ptrdiff_t>(at), reply.end()), pause});
        std::erase_if(pieces, [](const ReplyPiece& p) { return p.bytes.empty(); });
        return pieces;
    };
    const std::vector<std::uint8_t> stray(kStrayBytes.begin(), kStrayBytes.end());
    switch (options.fault) {
    case FaultMode::DelayReply:
        return {{std::move(reply), milliseconds(arg)}};
    case FaultMode::SplitReply:
        return cut(reply.size() / 2, milliseconds(arg > 0 ? arg : kDefaultSplitPauseMs));
    case FaultMode::SplitAt:
        return cut(static_cast<std::size_t>(arg), milliseconds(std::max(options.fault_pause_ms, 0)));
    case FaultMode::OneByteReply:
        reply.resize(1);
        break;
    case FaultMode::LongReply:
        reply.pop_back();
        reply.resize(1 + kLongReplyText, static_cast<std::uint8_t>('x'));
        break;
    case FaultMode::ExtraBytes:
        for (std::size_t i = 0; i < static_cast<std::size_t>(arg); ++i) {
            reply.push_back(stray[i % stray.size()]);
        }
        break;
    case FaultMode::StrayReply:
        return {{std::move(reply), {}}, {stray, milliseconds(arg)}};
    default:
        break;
    }
    return {{std::move(reply), {}}};
}

class Session;

struct GatewaySimulator::Impl {
    explicit Impl(SimulatorOptions opts) : options(std::move(opts)), logic(options.accounts) {}

    void accept_next();
    void record(const ReceivedFrame& frame);
    void trace_reply(std::uint64_t connection, std::span<const std::uint8_t> bytes);
    void close_all();

    SimulatorOptions options;
    asio::io_context io;
    tcp::acceptor acceptor{io};
    std::thread thread;
    GatewayLogic logic;  // used on the server thread only
    std::vector<std::weak_ptr<Session>> sessions;  // server thread only
    std::uint64_t next_connection = 1;
    std::uint16_t port = 0;

    mutable std::mutex mutex;  // guards what the caller's thread reads and the trace file
    std::vector<ReceivedFrame> frames;
    std::uint64_t accepted = 0;
    std::ofstream trace;
};

// One accepted connection: reads whole 258-byte requests (asio reassembles partial reads) and
// answers each in turn, with the configured fault applied.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(GatewaySimulator::Impl& sim, tcp::socket socket, std::uint64_t id)
        : sim_(sim), socket_(std::move(socket)), timer_(sim.io), id_(id) {}

    void begin() {
        asio::error_code ignored;
        socket_.set_option(tcp::no_delay(true), ignored);
        read_next();
    }

    void close() {
        asio::error_code ignored;
        timer_.cancel();
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
    }

private:
    void read_next() {
        asio::async_read(socket_, asio::buffer(request_),
                         [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                             if (!ec) {
                                 self->on_request();
                             }
                         });
    }

    void on_request() {
        const ReceivedFrame frame = decode_request(request_, id_);
        sim_.record(frame);
        const SimulatorOptions& o = sim_.options;
        const auto limit = static_cast<unsigned>(std::max(o.fault_arg, 0));
        if (o.fault == FaultMode::CloseAfter && answered_ >= limit) {
            close();
            return;
        }
        Reply reply = sim_.logic.handle(state_, frame);
        if (o.fault == FaultMode::NoReply && answered_ >= limit) {
            read_next();
            return;
        }
        ++answered_;
        if (o.fault == FaultMode::FixedStatus) {
            reply.status = static_cast<std::uint8_t>(o.fault_arg);
        }
        pieces_ = reply_pieces(o, encode_reply(reply));
        write_piece(0);
    }

    template <typename Action>
    void after(std::chrono::milliseconds delay, Action action) {
        timer_.expires_after(delay);
        timer_.async_wait([self = shared_from_this(), action](const asio::error_code& ec) {
            if (!ec) {
                action();
            }
        });
    }

    // Writes the pieces of the reply one after the other, each after its delay; once the last
    // is out the session goes on to the next request.
    void write_piece(std::size_t index) {
        if (index == pieces_.size()) {
            read_next();
            return;
        }
        const ReplyPiece& piece = pieces_[index];
        auto write = [this, index] {
            const std::vector<std::uint8_t>& bytes = pieces_[index].bytes;
            sim_.trace_reply(id_, bytes);
            asio::async_write(socket_, asio::buffer(bytes),
                              [self = shared_from_this(), index](const asio::error_code& ec, std::size_t) {
                                  if (!ec) {
                                      self->write_piece(index + 1);
                                  }
                              });
        };
        if (piece.delay.count() > 0) {
            after(piece.delay, write);
        } else {
            write();
        }
    }

    GatewaySimulator::Impl& sim_;
    tcp::socket socket_;
    asio::steady_timer timer_;
    std::uint64_t id_;
    SessionState state_;
    std::array<std::uint8_t, kRequestSize> request_{};
    std::vector<ReplyPiece> pieces_;
    unsigned answered_ = 0;
};

void GatewaySimulator::Impl::accept_next() {
    acceptor.async_accept([this](const asio::error_code& ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor.is_open()) {
            return;
        }
        if (!ec) {
            const std::uint64_t id = next_connection++;
            {
                std::lock_guard lock(mutex);
                ++accepted;
            }
            if (options.fault == FaultMode::CloseOnAccept) {
                asio::error_code ignored;
                socket.close(ignored);
            } else {
                auto session = std::make_shared<Session>(*this, std::move(socket), id);
                std::erase_if(sessions, [](const std::weak_ptr<Session>& s) { return s.expired(); });
                sessions.push_back(session);
                session->begin();
            }
        }
        accept_next();
    });
}

void GatewaySimulator::Impl::record(const ReceivedFrame& frame) {
    std::lock_guard lock(mutex);
    frames.push_back(frame);
    if (trace.is_open()) {
        trace << trace_request_line(frame) << '\n' << std::flush;
    }
}

void GatewaySimulator::Impl::trace_reply(std::uint64_t connection, std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(mutex);
    if (trace.is_open()) {
        trace << trace_reply_line(connection, bytes) << '\n' << std::flush;
    }
}

void GatewaySimulator::Impl::close_all() {
    asio::error_code ignored;
    acceptor.close(ignored);
    for (const auto& weak : sessions) {
        if (auto session = weak.lock()) {
            session->close();
        }
    }
    sessions.clear();
}

GatewaySimulator::GatewaySimulator(SimulatorOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

GatewaySimulator::~GatewaySimulator() {
    stop();
}

void GatewaySimulator::start() {
    Impl& s = *impl_;
    if (s.thread.joinable() || s.acceptor.is_open()) {
        throw std::logic_error("gateway simulator already started");
    }
    if (!s.options.trace_path.empty()) {
        s.trace.open(s.options.trace_path, std::ios::out | std::ios::trunc | std::ios::binary);
        if (!s.trace) {
            throw std::runtime_error("cannot open trace file " + s.options.trace_path);
        }
    }
    const tcp::endpoint endpoint(asio::ip::make_address_v4(s.options.address), s.options.port);
    s.acceptor.open(endpoint.protocol());
#ifndef _WIN32
    // On Windows this option would let another socket take over a port in use; elsewhere it only
    // lets a restarted simulator reuse its port at once.
    s.acceptor.set_option(tcp::acceptor::reuse_address(true));
#endif
    s.acceptor.bind(endpoint);
    s.acceptor.listen();
    s.port = s.acceptor.local_endpoint().port();
    s.accept_next();
    s.thread = std::thread([&s] {
        for (;;) {
            try {
                s.io.run();
                return;
            } catch (const std::exception& e) {
                // One connection's failure (e.g. out of memory) must not take the server down.
                std::fprintf(stderr, "gateway simulator: %s\n", e.what());
            }
        }
    });
}

std::uint16_t GatewaySimulator::port() const {
    return impl_->port;
}

void GatewaySimulator::stop() {
    Impl& s = *impl_;
    if (!s.thread.joinable()) {
        return;
    }
    asio::post(s.io, [&s] {
        s.close_all();
        s.io.stop();
    });
    s.thread.join();
}

std::vector<ReceivedFrame> GatewaySimulator::received() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->frames;
}

std::uint64_t GatewaySimulator::connections() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->accepted;
}

namespace {

struct FaultName {
    FaultMode mode;
    const char* name;
};

constexpr FaultName kFaultNames[] = {
    {FaultMode::None, "none"},
    {FaultMode::CloseOnAccept, "close-on-accept"},
    {FaultMode::NoReply, "no-reply"},
    {FaultMode::DelayReply, "delay-reply"},
    {FaultMode::SplitReply, "split-reply"},
    {FaultMode::OneByteReply, "one-byte-reply"},
    {FaultMode::LongReply, "long-reply"},
    {FaultMode::CloseAfter, "close-after"},
    {FaultMode::FixedStatus, "fixed-status"},
    {FaultMode::SplitAt, "split-at"},
    {FaultMode::ExtraBytes, "extra-bytes"},
    {FaultMode::StrayReply, "stray-reply"},
};

}  // namespace

const char* fault_mode_name(FaultMode mode) {
    for (const auto& f : kFaultNames) {
        if (f.mode == mode) {
            return f.name;
        }
    }
    return "?";
}

bool parse_fault_mode(const std::string& name, FaultMode& mode) {
    for (const auto& f : kFaultNames) {
        if (name == f.name) {
            mode = f.mode;
            return true;
        }
    }
    return false;
}

}  // namespace vrl::sim
