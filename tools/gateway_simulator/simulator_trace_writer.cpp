#include "simulator_trace_writer.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vrl::sim {

TraceWriter::TraceWriter(const std::string& path, std::size_t max_queued_bytes)
    : path_(path), file_(std::fopen(path.c_str(), "wb")), max_queued_bytes_(max_queued_bytes) {
    if (!file_) {
        throw std::runtime_error("cannot open trace file " + path);
    }
    thread_ = std::thread([this] { run(); });
}

TraceWriter::~TraceWriter() {
    {
        std::lock_guard lock(mutex_);
        if (dropped_ != 0 && !failed_) {
            queue_.push_back("{\"dropped\":" + std::to_string(dropped_) + "}");
        }
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void TraceWriter::write(std::string line) {
    {
        std::lock_guard lock(mutex_);
        if (failed_) {
            return;
        }
        if (queued_bytes_ + line.size() > max_queued_bytes_) {
            ++dropped_;
            return;
        }
        if (dropped_ != 0) {
            queue_.push_back("{\"dropped\":" + std::to_string(dropped_) + "}");
            dropped_ = 0;
        }
        queued_bytes_ += line.size();
        queue_.push_back(std::move(line));
    }
    wake_.notify_one();
}

void TraceWriter::run() {
    std::vector<std::string> lines;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;
            }
            lines.swap(queue_);
            queued_bytes_ = 0;
        }
        if (!write_out(lines)) {
            std::lock_guard lock(mutex_);
            failed_ = true;
            queue_.clear();
            return;
        }
        lines.clear();
    }
}

bool TraceWriter::write_out(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        if (std::fwrite(line.data(), 1, line.size(), file_.get()) != line.size() || std::fputc('\n', file_.get()) == EOF) {
            break;
        }
    }
    if (!std::ferror(file_.get()) && std::fflush(file_.get()) == 0) {
        return true;
    }
    std::fprintf(stderr, "gateway simulator: writing the trace file %s failed (%s); tracing stopped\n", path_.c_str(),
                 std::strerror(errno));
    return false;
}

}  // namespace vrl::sim
