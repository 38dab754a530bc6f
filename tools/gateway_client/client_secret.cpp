#include "client_secret.h"

#include <cstring>

#include "gateway_frame.h"

namespace vrl::client {

bool read_password_line(std::FILE* in, std::string& password) {
    wipe(password);
    password.reserve(kMaxPasswordBytes + 1);
    int c = std::fgetc(in);
    if (c == EOF) {
        return false;
    }
    for (; c != EOF && c != '\n'; c = std::fgetc(in)) {
        if (password.size() == kMaxPasswordBytes + 1) {
            continue;  // read the rest of the line, keep none of it
        }
        password.push_back(static_cast<char>(c));
    }
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    if (password.size() > kMaxPasswordBytes) {
        wipe(password);
        return false;
    }
    return true;
}

void wipe(std::string& text) noexcept {
    gateway::secure_clear(text.data(), text.size());
    text.clear();
}

void wipe(char* text) noexcept {
    gateway::secure_clear(text, std::strlen(text));
}

}  // namespace vrl::client
