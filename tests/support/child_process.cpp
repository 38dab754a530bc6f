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

}  // namespace

ProcessResult RunProcess(const std::wstring& command_line, unsigned long timeout_ms) {
    ProcessResult result;
    // Output goes to a file rather than a pipe: nothing the child leaves running can hold it open.
    const std::wstring output_path = TempFileName();
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    {
        Handle output(::CreateFileW(output_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        Handle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!output.valid()) {
            return result;
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input.valid() ? input.get() : nullptr;
        startup.hStdOutput = output.get();
        startup.hStdError = output.get();
        PROCESS_INFORMATION process{};
        std::vector<wchar_t> line(command_line.begin(), command_line.end());
        line.push_back(L'\0');
        if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                              &process)) {
            return result;
        }
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
    }
    {
        const Handle reader(::CreateFileW(output_path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        char buffer[4096];
        DWORD got = 0;
        while (reader.valid() && ::ReadFile(reader.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
            result.output.append(buffer, got);
        }
    }
    ::DeleteFileW(output_path.c_str());
    result.output.erase(std::remove(result.output.begin(), result.output.end(), '\r'), result.output.end());
    return result;
}

std::wstring WindowsPath(const std::wstring& unix_path) {
    std::wstring path = unix_path;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path.rfind(L"Z:", 0) == 0 ? path : L"Z:" + path;
}

}  // namespace vrl::test
