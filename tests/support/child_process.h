#pragma once
// Runs another program of the Wine prefix (regsvr32, cscript, an example client) and collects its
// exit code and output.

#include <string>

namespace vrl::test {

struct ProcessResult {
    bool started = false;
    bool finished = false;  // false: still running at the time-out, and killed
    unsigned long exit_code = 0;
    std::string output;     // standard output and error together, CR removed
};

ProcessResult RunProcess(const std::wstring& command_line, unsigned long timeout_ms = 180000);

// A Unix path ("/work/...") as the prefix's programs see it ("Z:\work\...").
std::wstring WindowsPath(const std::wstring& unix_path);

}  // namespace vrl::test
