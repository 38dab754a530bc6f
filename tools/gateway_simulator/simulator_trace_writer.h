#pragma once
// Writes the trace file on a thread of its own, so that a slow or stuck file never holds up the
// sessions. Lines wait in a bounded queue: when the file falls that far behind, further lines are
// dropped and a {"dropped":N} line says so once the queue has room again. A failed write is
// reported once on stderr and ends the trace; the server goes on.

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vrl::sim {

inline constexpr std::size_t kTraceQueueBytes = 8u << 20;

class TraceWriter {
public:
    // Opens path for writing, truncated. Throws std::runtime_error when it cannot.
    explicit TraceWriter(const std::string& path, std::size_t max_queued_bytes = kTraceQueueBytes);
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;
    // Writes what is queued, then closes the file.
    ~TraceWriter();

    // Queues one line (without its newline). Never waits for the file.
    void write(std::string line);

private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    void run();
    bool write_out(const std::vector<std::string>& lines);

    std::string path_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::size_t max_queued_bytes_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::string> queue_;
    std::size_t queued_bytes_ = 0;
    std::size_t dropped_ = 0;
    bool failed_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace vrl::sim
