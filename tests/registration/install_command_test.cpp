// The command of DllInstall: which words choose which registration, and what is refused.
#include <gtest/gtest.h>

#include <string>

#include "install_command.h"

namespace vrl::server {
namespace {

struct CommandCase {
    const char16_t* command;
    InstallScope scope;
};

// The command as the platform's wide characters.
InstallScope Parse(const char16_t* command) {
    if (command == nullptr) {
        return ParseInstallCommand(nullptr);
    }
    std::basic_string<regscript::WideChar> wide;
    for (; *command != 0; ++command) {
        wide += static_cast<regscript::WideChar>(*command);
    }
    return ParseInstallCommand(wide.c_str());
}

TEST(InstallCommand, ChoosesTheRegistrationOrRefuses) {
    const CommandCase cases[] = {
        {nullptr, InstallScope::Machine},
        {u"", InstallScope::Machine},
        {u"machine", InstallScope::Machine},
        {u"MACHINE", InstallScope::Machine},
        {u"user", InstallScope::User},
        {u"User", InstallScope::User},
        {u"users", InstallScope::Invalid},
        {u"use", InstallScope::Invalid},
        {u" user", InstallScope::Invalid},
        {u"user ", InstallScope::Invalid},
        {u"machine,user", InstallScope::Invalid},
        {u"all", InstallScope::Invalid},
        // Only ASCII letters fold: a fullwidth or dotless letter is another word.
        {u"\xFF35ser", InstallScope::Invalid},
        {u"us\x0131r", InstallScope::Invalid},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parse(c.command), c.scope) << (c.command == nullptr ? "null" : "case");
    }
}

}  // namespace
}  // namespace vrl::server
