#include "child_process.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace vrl::test {
namespace {

class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
    }
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

std::wstring TempFileName() {
    wchar_t directory[MAX_PATH];
    wchar_t name[MAX_PATH];
    ::GetTempPathW(MAX_PATH, directory);
    ::GetTempFileNameW(directory, L"vrl", 0, name);
    return name;
}

// Starts `command_line` with its standard output and error going to the file `output_path`.
bool StartWithOutputFile(const std::wstring& command_line, const std::wstring& output_path,
                         PROCESS_INFORMATION& process) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle output(::CreateFileW(output_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    Handle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output.valid()) {
        return false;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.valid() ? input.get() : nullptr;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    std::vector<wchar_t> line(command_line.begin(), command_line.end());
    line.push_back(L'\0');
    return ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                            &process) != FALSE;
}

std::string ReadOutput(const std::wstring& path) {
    std::string text;
    const Handle reader(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    char buffer[4096];
    DWORD got = 0;
    while (reader.valid() && ::ReadFile(reader.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

}  // namespace

ProcessResult RunProcess(const std::wstring& command_line, unsigned long timeout_ms) {
    ProcessResult result;
    // Output goes to a file rather than a pipe: nothing the child leaves running can hold it open.
    const std::wstring output_path = TempFileName();
    PROCESS_INFORMATION process{};
    if (StartWithOutputFile(command_line, output_path, process)) {
        result.started = true;
        const Handle process_handle(process.hProcess);
        const Handle thread_handle(process.hThread);
        if (::WaitForSingleObject(process.hProcess, timeout_ms) == WAIT_OBJECT_0) {
            result.finished = true;
        } else {
            ::TerminateProcess(process.hProcess, 255);
            ::WaitForSingleObject(process.hProcess, 10000);
        }
        DWORD code = 0;
        ::GetExitCodeProcess(process.hProcess, &code);
        result.exit_code = code;
        result.output = ReadOutput(output_path);
    }
    ::DeleteFileW(output_path.c_str());
    return result;
}

BackgroundProcess::BackgroundProcess(const std::wstring& command_line) : output_path_(TempFileName()) {
    PROCESS_INFORMATION process{};
    if (StartWithOutputFile(command_line, output_path_, process)) {
        ::CloseHandle(process.hThread);
        process_ = process.hProcess;
    }
}

BackgroundProcess::~BackgroundProcess() {
    if (process_ != nullptr) {
        ::TerminateProcess(process_, 255);
        ::WaitForSingleObject(process_, 10000);
        ::CloseHandle(process_);
    }
    ::DeleteFileW(output_path_.c_str());
}

std::string BackgroundProcess::FirstLine(unsigned long timeout_ms) const {
    for (unsigned long waited = 0; process_ != nullptr; waited += 50) {
        const std::string output = ReadOutput(output_path_);
        const auto end = output.find('\n');
        if (end != std::string::npos || waited >= timeout_ms ||
            ::WaitForSingleObject(process_, 50) == WAIT_OBJECT_0) {
            return output.substr(0, end);
        }
    }
    return {};
}

std::wstring ListeningPort(const BackgroundProcess& simulator) {
    const std::string line = simulator.FirstLine(120000);
    const auto colon = line.rfind(':');
    if (line.rfind("listening on ", 0) != 0 || colon == std::string::npos) {
        return {};
    }
    return std::wstring(line.begin() + static_cast<std::ptrdiff_t>(colon) + 1, line.end());
}

std::wstring WindowsPath(const std::wstring& unix_path) {
    std::wstring path = unix_path;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path.rfind(L"Z:", 0) == 0 ? path : L"Z:" + path;
}

}  // namespace vrl::test
