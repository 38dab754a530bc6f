#include "client_run.h"

namespace vrl::client {

int exit_code_for(std::int32_t status, bool local_refusal) {
    if (status < 0 || local_refusal) {
        return kExitLocal;
    }
    return status == 0 ? kExitOk : kExitRefused;
}

std::string printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    auto escape = [&out](unsigned char b) {
        out += "\\x";
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 0x0F]);
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        const bool c1 = b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c1) {
            escape(b);
            escape(static_cast<unsigned char>(text[++i]));
        } else if (b < 0x20 || b == 0x7F || b == '\\') {
            escape(b);
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

int run_client(const ClientCommand& command, gateway::GatewayConnection& connection, std::ostream& out) {
    using gateway::GatewayResult;
    const std::int32_t login = connection.start(command.server, command.port, command.user, command.password);
    out << "login " << login << '\n';
    int code = exit_code_for(login, false);
    for (auto op = command.operations.begin(); code == kExitOk && op != command.operations.end(); ++op) {
        GatewayResult result{};
        switch (op->kind) {
        case Operation::Kind::Send:
            result = connection.submit(op->number, op->text);
            break;
        case Operation::Kind::SendAt:
            result = connection.submit_at(op->number, op->text, op->time);
            break;
        case Operation::Kind::Query:
            result = connection.query(op->number, op->text);
            break;
        }
        out << operation_name(op->kind) << ' ' << result.status;
        if (!result.text.empty()) {
            out << ' ' << printable(result.text);
        }
        out << '\n';
        const bool local_refusal = op->kind != Operation::Kind::Query && op->text.size() > gateway::kMaxMessageBytes;
        code = exit_code_for(result.status, local_refusal);
    }
    connection.end();
    return code;
}

}  // namespace vrl::client
