#include "client_run.h"

namespace vrl::client {

int exit_code_for(std::int32_t status, bool local_refusal) {
    if (status < 0 || local_refusal) {
        return kExitLocal;
    }
    return status == 0 ? kExitOk : kExitRefused;
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
            out << ' ' << result.text;
        }
        out << '\n';
        const bool local_refusal = op->kind != Operation::Kind::Query && op->text.size() > gateway::kMaxMessageBytes;
        code = exit_code_for(result.status, local_refusal);
    }
    connection.end();
    return code;
}

}  // namespace vrl::client
