// The simulator as a program under load, over 127.0.0.1 only:
//  1. CLIENTS connections at once (default 1,000): each logs in, waits until all have, then makes
//     REQUESTS requests (default 100), submits and queries of the id just issued in turn; every
//     reply is checked. Prints requests per second and the simulator's resident memory when it
//     started listening and when all clients are done; the growth must stay within kMemoryBound.
//  2. Starved of descriptors (limit kStarvedFdLimit, below the number of clients): kIdleClients
//     connect and stay silent, then kStarvedWorkers clients log in and make 20 requests each. The
//     silent ones hold every descriptor until the idle deadline closes them, so the others wait
//     in the listen backlog meanwhile. Every worker must be served, every silent client closed
//     cleanly, the accept failure reported once, and the simulator's CPU time must stay under
//     kStarvedCpuBound: an accept loop that retried at once would spin for the whole wait.
// Usage: simulator_load_test SIMULATOR [--clients N] [--requests N]
#include <asio.hpp>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "simulator_protocol.h"

namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Growth of the simulator's resident memory over the loaded run. Its message table holds at most
// 100,000 entries of a few dozen bytes; keeping each request, as it once did, cost about 300
// bytes a request: 30 MB for the default run.
constexpr long kMemoryBoundKiB = 12 * 1024;
constexpr rlim_t kStarvedFdLimit = 32;
constexpr int kIdleClients = 40;
constexpr int kStarvedWorkers = 60;
constexpr int kStarvedRequests = 20;
constexpr int kStarvedIdleTimeoutMs = 2000;
// The silent clients hold the descriptors for two idle periods (those first accepted, then those
// that waited in the backlog): about 4 s in which an accept loop that retried at once would take
// all the CPU it could get. Serving the workers takes under 0.1 s here, under the sanitizers; the
// bound allows five times that, and catches a spinning loop that got even an eighth of a core.
constexpr double kStarvedCpuBound = 0.5;
// Each run ends by itself: a client that is not done by then is a failure. The limit is 120 s, or
// 1 ms a request for a longer run.
std::chrono::seconds run_limit(long long requests) {
    return std::max(std::chrono::seconds(120), std::chrono::duration_cast<std::chrono::seconds>(requests * 1ms));
}

int g_failures = 0;

void fail(const std::string& what) {
    if (++g_failures <= 20) {
        std::printf("FAIL %s\n", what.c_str());
    }
}

// The simulator as a child process: its first line gives the port; stderr is kept for later.
class Simulator {
public:
    Simulator(const char* path, const std::vector<std::string>& args, std::optional<rlim_t> fd_limit) {
        int out[2];
        int err[2];
        if (pipe(out) != 0 || pipe(err) != 0) {
            std::perror("pipe");
            std::exit(2);
        }
        std::vector<std::string> argv_text = {path};
        argv_text.insert(argv_text.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : argv_text) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        // The sanitizers' quarantine would hold freed memory back and hide what the simulator keeps.
        std::string asan = "ASAN_OPTIONS=quarantine_size_mb=0:thread_local_quarantine_size_kb=0";
        if (const char* own = std::getenv("ASAN_OPTIONS")) {
            asan += std::string(":") + own;
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            dup2(err[1], 2);
            close(out[0]);
            close(err[0]);
            if (fd_limit) {
                const rlimit limit{*fd_limit, *fd_limit};
                setrlimit(RLIMIT_NOFILE, &limit);
            }
            putenv(asan.data());
            execv(path, argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        err_ = err[0];
        std::FILE* first = fdopen(out[0], "r");
        char line[128] = {};
        unsigned port = 0;
        if (first == nullptr || std::fgets(line, sizeof line, first) == nullptr ||
            std::sscanf(line, "listening on 127.0.0.1:%u", &port) != 1) {
            std::printf("FAIL the simulator did not report its port\n");
            std::exit(1);
        }
        port_ = static_cast<std::uint16_t>(port);
        out_ = first;
    }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    ~Simulator() {
        if (pid_ > 0) {
            stop();
        }
        std::fclose(out_);
        close(err_);
    }

    std::uint16_t port() const { return port_; }

    long resident_kib() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmRSS:", 0) == 0) {
                return std::strtol(line.c_str() + 6, nullptr, 10);
            }
        }
        return -1;
    }

    // Stops it with SIGTERM; returns its CPU time in seconds and its stderr.
    double stop() {
        kill(pid_, SIGTERM);
        int status = 0;
        rusage usage{};
        wait4(pid_, &status, 0, &usage);
        pid_ = -1;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            fail("simulator exit status " + std::to_string(status));
        }
        char buffer[4096];
        for (ssize_t n; (n = read(err_, buffer, sizeof buffer)) > 0;) {
            errors_.append(buffer, static_cast<std::size_t>(n));
        }
        auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
        return seconds(usage.ru_utime) + seconds(usage.ru_stime);
    }

    const std::string& errors() const { return errors_; }

private:
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
    std::FILE* out_ = nullptr;
    int err_ = -1;
    std::string errors_;
};

std::vector<std::uint8_t> request(std::uint8_t command, std::initializer_list<std::string_view> fields) {
    std::vector<std::uint8_t> bytes(vrl::sim::kRequestSize, 0);
    bytes[1] = command;
    std::size_t at = vrl::sim::kBodyOffset;
    for (std::string_view f : fields) {
        std::copy(f.begin(), f.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
        at += f.size() + 1;
    }
    bytes[2] = static_cast<std::uint8_t>(at - vrl::sim::kBodyOffset);
    return bytes;
}

struct Run {
    asio::io_context io;
    tcp::endpoint server;
    int requests = 0;
    int clients = 0;
    int logged_in = 0;
    int done = 0;
    int closed_cleanly = 0;
    bool barrier = false;  // wait until every client has logged in
    std::vector<std::function<void()>> waiting;
};

// One client: connect, log in, then alternately submit and query the id just issued.
class Client : public std::enable_shared_from_this<Client> {
public:
    Client(Run& run, int index, bool silent) : run_(run), socket_(run.io), index_(index), silent_(silent) {}

    void start() {
        socket_.async_connect(run_.server, [self = shared_from_this()](const asio::error_code& ec) {
            if (ec) {
                fail("client " + std::to_string(self->index_) + " connect: " + ec.message());
                return;
            }
            if (self->silent_) {
                self->await_close();
            } else {
                self->exchange(request(vrl::sim::kCommandLogin, {"demo", "demo"}), [self](const std::string& text) {
                    self->expect(text, std::string(vrl::sim::kTextLoginOk));
                    self->after_login();
                });
            }
        });
    }

private:
    void after_login() {
        ++run_.logged_in;
        auto go = [self = shared_from_this()] { self->next(); };
        if (!run_.barrier) {
            go();
            return;
        }
        run_.waiting.push_back(go);
        if (run_.logged_in == run_.clients) {
            for (auto& w : run_.waiting) {
                asio::post(run_.io, w);
            }
            run_.waiting.clear();
        }
    }

    void next() {
        if (made_ == run_.requests) {
            ++run_.done;
            asio::error_code ignored;
            socket_.shutdown(tcp::socket::shutdown_both, ignored);
            socket_.close(ignored);
            return;
        }
        const std::string mobile = "09" + std::to_string(10000000 + index_);
        auto self = shared_from_this();
        if (made_++ % 2 == 0) {
            exchange(request(vrl::sim::kCommandSubmit, {mobile, "load", "d"}), [self](const std::string& text) {
                if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
                    fail("client " + std::to_string(self->index_) + ": submit answered \"" + text + "\"");
                }
                self->id_ = text;
                self->next();
            });
        } else {
            exchange(request(vrl::sim::kCommandQuery, {mobile, id_}), [self](const std::string& text) {
                self->expect(text, std::string(vrl::sim::kStateDelivered));
                self->next();
            });
        }
    }

    void expect(const std::string& text, const std::string& wanted) {
        if (text != wanted) {
            fail("client " + std::to_string(index_) + ": \"" + text + "\" instead of \"" + wanted + "\"");
        }
    }

    // Sends one request and reads its reply: the status byte (0 is required), then the text up
    // to its NUL. The two replies never overlap: a client sends its next request after a reply.
    template <typename Then>
    void exchange(std::vector<std::uint8_t> bytes, Then then) {
        out_ = std::move(bytes);
        auto self = shared_from_this();
        asio::async_write(socket_, asio::buffer(out_), [self, then](const asio::error_code& ec, std::size_t) {
            if (ec) {
                self->failed("send", ec);
                return;
            }
            asio::async_read(self->socket_, asio::buffer(&self->status_, 1), [self, then](const asio::error_code& status_ec, std::size_t) {
                if (status_ec) {
                    self->failed("receive", status_ec);
                    return;
                }
                asio::async_read_until(self->socket_, asio::dynamic_buffer(self->in_), '\0',
                                       [self, then](const asio::error_code& text_ec, std::size_t n) {
                                           if (text_ec) {
                                               self->failed("receive", text_ec);
                                               return;
                                           }
                                           const std::string text = self->in_.substr(0, n - 1);
                                           self->in_.erase(0, n);
                                           if (self->status_ != vrl::sim::kStatusOk) {
                                               fail("client " + std::to_string(self->index_) + ": status " +
                                                    std::to_string(self->status_) + " " + text);
                                               return;
                                           }
                                           then(text);
                                       });
            });
        });
    }

    void failed(const char* what, const asio::error_code& ec) {
        fail("client " + std::to_string(index_) + " " + what + ": " + ec.message());
    }

    // A silent client waits for the server to close: an orderly end of stream, nothing before it.
    void await_close() {
        socket_.async_read_some(asio::buffer(sink_), [self = shared_from_this()](const asio::error_code& ec, std::size_t n) {
            if (ec == asio::error::eof && n == 0) {
                ++self->run_.closed_cleanly;
            } else {
                fail("silent client " + std::to_string(self->index_) + ": " + (ec ? ec.message() : "got bytes"));
            }
        });
    }

    Run& run_;
    tcp::socket socket_;
    int index_;
    bool silent_;
    int made_ = 0;
    std::string id_;
    std::vector<std::uint8_t> out_;
    std::uint8_t status_ = 0;
    std::string in_;
    std::array<char, 16> sink_{};
};

// Runs the io until every client has finished, one has failed, or the run's limit has passed.
// Returns the seconds taken.
double drive(Run& run, const std::function<bool()>& finished) {
    const auto begin = Clock::now();
    const int failures = g_failures;
    const auto limit = run_limit(static_cast<long long>(run.clients) * run.requests);
    while (!finished() && Clock::now() - begin < limit && g_failures == failures) {
        run.io.run_for(100ms);
    }
    if (!finished() && g_failures == failures) {
        fail("the run did not finish within " + std::to_string(limit.count()) + " s");
    }
    return std::chrono::duration<double>(Clock::now() - begin).count();
}

void loaded_run(const char* simulator_path, int clients, int requests) {
    Simulator simulator(simulator_path, {"--max-sessions", std::to_string(clients)}, std::nullopt);
    const long rss_start = simulator.resident_kib();
    Run run;
    run.server = tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), simulator.port());
    run.requests = requests;
    run.clients = clients;
    run.barrier = true;
    for (int i = 0; i < clients; ++i) {
        std::make_shared<Client>(run, i, false)->start();
    }
    const auto logged_in = Clock::now();
    drive(run, [&run] { return run.logged_in == run.clients || g_failures != 0; });
    const double login_seconds = std::chrono::duration<double>(Clock::now() - logged_in).count();
    const double seconds = drive(run, [&run] { return run.done == run.clients; });
    const long rss_end = simulator.resident_kib();
    const double cpu = simulator.stop();
    const double total = static_cast<double>(clients) * requests;
    std::printf("loaded run: %d concurrent clients (all logged in after %.2f s), %d requests each\n", clients,
                login_seconds, requests);
    std::printf("  %.0f requests in %.2f s: %.0f requests/s; simulator CPU %.2f s\n", total, seconds, total / seconds, cpu);
    std::printf("  simulator resident memory: %ld KiB at start, %ld KiB at the end (growth %ld KiB, bound %ld KiB)\n",
                rss_start, rss_end, rss_end - rss_start, kMemoryBoundKiB);
    if (rss_start <= 0 || rss_end <= 0) {
        fail("resident memory not readable from /proc");
    } else if (rss_end - rss_start > kMemoryBoundKiB) {
        fail("resident memory grew by " + std::to_string(rss_end - rss_start) + " KiB");
    }
}

void starved_run(const char* simulator_path) {
    Simulator simulator(simulator_path, {"--idle-timeout", std::to_string(kStarvedIdleTimeoutMs)}, kStarvedFdLimit);
    Run run;
    run.server = tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), simulator.port());
    run.requests = kStarvedRequests;
    run.clients = kStarvedWorkers;
    for (int i = 0; i < kIdleClients; ++i) {
        std::make_shared<Client>(run, i, true)->start();
    }
    for (int i = 0; i < kStarvedWorkers; ++i) {
        std::make_shared<Client>(run, kIdleClients + i, false)->start();
    }
    const double seconds =
        drive(run, [&run] { return run.done == kStarvedWorkers && run.closed_cleanly == kIdleClients; });
    const double cpu = simulator.stop();
    std::printf("starved run: descriptor limit %d, %d silent and %d working clients (%d requests each)\n",
                static_cast<int>(kStarvedFdLimit), kIdleClients, kStarvedWorkers, kStarvedRequests);
    std::printf("  %d served, %d closed after the idle deadline, in %.2f s; simulator CPU %.2f s (bound %.1f s)\n",
                run.done, run.closed_cleanly, seconds, cpu, kStarvedCpuBound);
    if (cpu > kStarvedCpuBound) {
        fail("the starved simulator used " + std::to_string(cpu) + " s of CPU");
    }
    // The starvation must really have happened, and been reported once.
    std::size_t reports = 0;
    for (std::size_t at = 0; (at = simulator.errors().find("accept failed", at)) != std::string::npos; ++at) {
        ++reports;
    }
    if (reports != 1) {
        fail(std::to_string(reports) + " accept failure reports instead of 1:\n" + simulator.errors());
    }
}

int parse_count(const char* text) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 1 || value > 1'000'000) {
        std::fprintf(stderr, "bad count: %s\n", text);
        std::exit(2);
    }
    return static_cast<int>(value);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: simulator_load_test SIMULATOR [--clients N] [--requests N]\n");
        return 2;
    }
    int clients = 1000;
    int requests = 100;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--clients") == 0) {
            clients = parse_count(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--requests") == 0) {
            requests = parse_count(argv[i + 1]);
        } else {
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        }
    }
    // The clients' sockets and the simulator's (which inherits the limit) need room.
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const auto needed = static_cast<rlim_t>(clients) + 64;
    if (limit.rlim_max < needed) {
        std::printf("FAIL the descriptor limit's ceiling %llu is below the %llu this run needs\n",
                    static_cast<unsigned long long>(limit.rlim_max), static_cast<unsigned long long>(needed));
        return 1;
    }
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    std::signal(SIGPIPE, SIG_IGN);

    loaded_run(argv[1], clients, requests);
    starved_run(argv[1]);
    std::printf("%d failure(s)\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
