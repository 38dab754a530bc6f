#include "install_command.h"

namespace vrl::server {
namespace {

// Compares with a lower-case ASCII word; only ASCII letters fold, so no other character can
// match by a locale's case rules.
bool IsWord(const regscript::WideChar* text, const char* word) noexcept {
    for (; *word != '\0'; ++text, ++word) {
        regscript::WideChar c = *text;
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<regscript::WideChar>(c - u'A' + u'a');
        }
        if (c != static_cast<regscript::WideChar>(*word)) {
            return false;
        }
    }
    return *text == 0;
}

}  // namespace

InstallScope ParseInstallCommand(const regscript::WideChar* command) noexcept {
    if (command == nullptr || *command == 0 || IsWord(command, "machine")) {
        return InstallScope::Machine;
    }
    if (IsWord(command, "user")) {
        return InstallScope::User;
    }
    return InstallScope::Invalid;
}

}  // namespace vrl::server
