#pragma once
// The calling user's classes key, HKEY_CURRENT_USER\Software\Classes, standing in for
// HKEY_CLASSES_ROOT while a per-user registration runs: every key that the registry script writes
// under HKEY_CLASSES_ROOT then lands there, and so does the type library's registration where the
// platform's per-user function falls back to the machine-wide one (Wine). The redirection is
// process-wide and lasts as long as this object.

#include <windows.h>

namespace vrl::server {

class UserClassesRoot {
public:
    UserClassesRoot() noexcept;
    UserClassesRoot(const UserClassesRoot&) = delete;
    UserClassesRoot& operator=(const UserClassesRoot&) = delete;
    ~UserClassesRoot();

    // S_OK while HKEY_CLASSES_ROOT leads to the user's classes key, else why it does not.
    HRESULT result() const noexcept { return result_; }

    // Deletes the user's CLSID, Interface and TypeLib keys when they hold nothing: registration
    // creates them in a fresh profile, and unregistration leaves nothing of its own behind.
    void RemoveEmptyContainers() const noexcept;

private:
    HKEY classes_ = nullptr;
    HRESULT result_;
};

}  // namespace vrl::server
