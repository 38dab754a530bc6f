#include "gateway_simulator.h"

#include <asio.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "simulator_trace.h"
#include "simulator_trace_writer.h"

namespace vrl::sim {

using asio::ip::tcp;

namespace {

// After a failed accept (out of descriptors, most likely) the listener waits this long before it
// tries again; the clients meanwhile wait in the listen backlog.
constexpr std::chrono::milliseconds kAcceptRetryDelay(100);

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
    explicit Impl(SimulatorOptions opts)
        : options(std::move(opts)), logic(options.accounts, options.message_capacity) {}

    void accept_next();
    void on_accept_error(const asio::error_code& ec);
    void record(const ReceivedFrame& frame);
    void close_all();

    SimulatorOptions options;
    asio::io_context io;
    tcp::acceptor acceptor{io};
    asio::steady_timer accept_retry{io};
    std::thread thread;
    GatewayLogic logic;                            // server thread only
    std::vector<std::weak_ptr<Session>> sessions;  // server thread only
    std::vector<int> accept_errors_reported;       // server thread only
    std::uint64_t next_connection = 1;
    std::uint16_t port = 0;
    bool stopping = false;  // server thread only: start no more work, let what runs finish
    std::unique_ptr<TraceWriter> trace_writer;

    mutable std::mutex mutex;  // guards what the caller's thread reads
    std::vector<ReceivedFrame> frames;
    std::uint64_t accepted = 0;
};

// One accepted connection: reads whole 258-byte requests (asio reassembles partial reads) and
// answers each in turn, with the configured fault applied. While it waits for the client (for a
// whole request, or for a reply to leave), the idle deadline runs; while it waits on purpose (a
// fault mode's delay) it does not.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(GatewaySimulator::Impl& sim, tcp::socket socket, std::uint64_t id)
        : sim_(sim), socket_(std::move(socket)), timer_(sim.io), deadline_(sim.io), id_(id) {}

    void begin() {
        asio::error_code ignored;
        socket_.set_option(tcp::no_delay(true), ignored);
        read_next();
    }

    void close() {
        asio::error_code ignored;
        timer_.cancel();
        disarm_deadline();
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
    }

private:
    void read_next() {
        if (sim_.stopping) {
            return;
        }
        arm_deadline();
        asio::async_read(socket_, asio::buffer(request_),
                         [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                             self->disarm_deadline();
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
        written_.clear();
        start_piece(0);
    }

    // Writes the reply's pieces in turn, each after its delay; once all are out (or the connection
    // is lost) the reply's trace line is written, and a whole reply goes on to the next request.
    void start_piece(std::size_t index) {
        if (index == pieces_.size()) {
            finish_reply(true);
            return;
        }
        const std::chrono::milliseconds delay = pieces_[index].delay;
        if (delay.count() == 0) {
            write_piece(index);
            return;
        }
        timer_.expires_after(delay);
        timer_.async_wait([self = shared_from_this(), index](const asio::error_code& ec) {
            if (ec) {
                self->finish_reply(false);
            } else {
                self->write_piece(index);
            }
        });
    }

    void write_piece(std::size_t index) {
        arm_deadline();
        asio::async_write(socket_, asio::buffer(pieces_[index].bytes),
                          [self = shared_from_this(), index](const asio::error_code& ec, std::size_t n) {
                              self->disarm_deadline();
                              const std::vector<std::uint8_t>& bytes = self->pieces_[index].bytes;
                              self->written_.insert(self->written_.end(), bytes.begin(),
                                                    bytes.begin() + static_cast<std::ptrdiff_t>(n));
                              if (ec) {
                                  self->finish_reply(false);
                              } else {
                                  self->start_piece(index + 1);
                              }
                          });
    }

    void finish_reply(bool complete) {
        if (sim_.trace_writer) {
            sim_.trace_writer->write(trace_reply_line(id_, written_, pieces_, complete));
        }
        if (complete) {
            read_next();
        }
    }

    // The deadline's generation tells a stale expiry (one already queued when the deadline was
    // moved) from a real one.
    void arm_deadline() {
        const auto timeout = sim_.options.idle_timeout;
        if (timeout.count() <= 0) {
            return;
        }
        const unsigned generation = ++deadline_generation_;
        deadline_.expires_after(timeout);
        deadline_.async_wait([self = shared_from_this(), generation](const asio::error_code& ec) {
            if (!ec && generation == self->deadline_generation_) {
                self->close();
            }
        });
    }

    void disarm_deadline() {
        ++deadline_generation_;
        deadline_.cancel();
    }

    GatewaySimulator::Impl& sim_;
    tcp::socket socket_;
    asio::steady_timer timer_;     // fault-mode delays
    asio::steady_timer deadline_;  // the idle deadline
    unsigned deadline_generation_ = 0;
    std::uint64_t id_;
    SessionState state_;
    std::array<std::uint8_t, kRequestSize> request_{};
    std::vector<ReplyPiece> pieces_;
    std::vector<std::uint8_t> written_;  // what of the current reply's pieces is out
    unsigned answered_ = 0;
};

void GatewaySimulator::Impl::accept_next() {
    acceptor.async_accept([this](const asio::error_code& ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor.is_open()) {
            return;
        }
        if (ec) {
            on_accept_error(ec);
            return;
        }
        const std::uint64_t id = next_connection++;
        {
            std::lock_guard lock(mutex);
            ++accepted;
        }
        std::erase_if(sessions, [](const std::weak_ptr<Session>& s) { return s.expired(); });
        if (options.fault == FaultMode::CloseOnAccept || sessions.size() >= options.max_sessions) {
            asio::error_code ignored;
            socket.close(ignored);
        } else {
            auto session = std::make_shared<Session>(*this, std::move(socket), id);
            sessions.push_back(session);
            session->begin();
        }
        accept_next();
    });
}

// Accepting again at once would fail again at once and spin: wait, and say so once per kind of
// error, however long the condition lasts.
void GatewaySimulator::Impl::on_accept_error(const asio::error_code& ec) {
    if (std::find(accept_errors_reported.begin(), accept_errors_reported.end(), ec.value()) ==
        accept_errors_reported.end()) {
        accept_errors_reported.push_back(ec.value());
        std::fprintf(stderr, "gateway simulator: accept failed: %s; retrying every %lld ms (reported once)\n",
                     ec.message().c_str(), static_cast<long long>(kAcceptRetryDelay.count()));
    }
    accept_retry.expires_after(kAcceptRetryDelay);
    accept_retry.async_wait([this](const asio::error_code& wait_ec) {
        if (!wait_ec && acceptor.is_open()) {
            accept_next();
        }
    });
}

void GatewaySimulator::Impl::record(const ReceivedFrame& frame) {
    if (options.keep_history) {
        std::lock_guard lock(mutex);
        frames.push_back(frame);
    }
    if (trace_writer) {
        trace_writer->write(trace_request_line(frame, !options.trace_secrets));
    }
}

void GatewaySimulator::Impl::close_all() {
    asio::error_code ignored;
    acceptor.close(ignored);
    accept_retry.cancel();
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
        s.trace_writer = std::make_unique<TraceWriter>(s.options.trace_path);
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
    // Closing everything lets the handlers already due run (a reply just written still gets its
    // trace line), and the thread ends when no work is left.
    asio::post(s.io, [&s] {
        s.stopping = true;
        s.close_all();
    });
    s.thread.join();
    // The trace ends with the last reply written.
    s.trace_writer.reset();
}

std::vector<ReceivedFrame> GatewaySimulator::received() const {
    if (!impl_->options.keep_history) {
        throw std::logic_error("gateway simulator: received() needs SimulatorOptions::keep_history");
    }
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
