#pragma once
// Runs another program of the Wine prefix (regsvr32, cscript, an example client) and collects its
// exit code and output, or keeps one running beside the test.

#include <string>

namespace vrl::test {

struct ProcessResult {
    bool started = false;
    bool finished = false;  // false: still running at the time-out, and killed
    unsigned long exit_code = 0;
    std::string output;     // standard output and error together, CR removed
};

ProcessResult RunProcess(const std::wstring& command_line, unsigned long timeout_ms = 180000);

// A program that runs beside the test (a gateway in a process of its own) until this object ends it.
class BackgroundProcess {
public:
    explicit BackgroundProcess(const std::wstring& command_line);
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;
    ~BackgroundProcess();

    // The first line of its output, once it is there; what came by then when the program ends or
    // timeout_ms passes first.
    std::string FirstLine(unsigned long timeout_ms) const;

private:
    std::wstring output_path_;
    void* process_ = nullptr;
};

// The port a gateway simulator started with "--port 0" listens on, from its first line ("listening
// on 127.0.0.1:PORT"); empty when it says nothing of the kind within two minutes.
std::wstring ListeningPort(const BackgroundProcess& simulator);

// A Unix path ("/work/...") as the prefix's programs see it ("Z:\work\...").
std::wstring WindowsPath(const std::wstring& unix_path);

}  // namespace vrl::test
