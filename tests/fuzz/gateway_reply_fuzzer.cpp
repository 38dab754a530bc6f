// Arbitrary bytes in arbitrary pieces, as a gateway's answers, through the scripted socket layer
// into the connection: a login and then submits, timed submits and queries. The input is read as
// a list of steps: 0x00..0x7F a piece (delay byte, then that many bytes as the length byte says),
// 0x80..0x9F the peer's close, 0xA0..0xBF the end of one answer (the next request gets the next),
// 0xC0..0xFF the caller's pause before its next call. Every call must give a status of 0 to 255 or
// a local code, a text of at most 128 bytes without a NUL, at most one request, none after the
// gateway closed, and return within the receive limit on the scripted clock.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "gateway_connection.h"
#include "scripted_socket_api.h"

namespace {

using vrl::gateway::GatewayConnection;
using vrl::gateway::GatewayResult;
using vrl::gateway::GatewayTimeouts;
using vrl::gateway::test::ScriptedSocketApi;
using Ms = std::chrono::milliseconds;

constexpr std::size_t kMaxCalls = 12;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Short delays mostly, some across the grace, a few across the whole receive limit.
Ms delay_of(std::uint8_t b) {
    if (b < 200) {
        return Ms(b * 5);
    }
    return Ms((b - 199) * 2'000);
}

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t next() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::vector<std::uint8_t> take(std::size_t n) {
        n = std::min(n, size_ - pos_);
        std::vector<std::uint8_t> bytes(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return bytes;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

struct Script {
    std::vector<ScriptedSocketApi::Answer> answers;
    std::vector<Ms> pauses;  // before each call
};

Script read_script(Input& in) {
    Script script;
    script.answers.emplace_back();
    script.pauses.push_back(Ms(0));
    while (!in.empty() && script.answers.size() <= kMaxCalls) {
        const std::uint8_t step = in.next();
        if (step < 0x80) {
            const Ms after = delay_of(in.next());
            script.answers.back().push_back(ScriptedSocketApi::piece(after, in.take(step)));
        } else if (step < 0xA0) {
            script.answers.back().push_back(ScriptedSocketApi::closing(delay_of(in.next())));
        } else if (step < 0xC0) {
            script.answers.emplace_back();
            script.pauses.push_back(Ms(0));
        } else {
            script.pauses.back() += delay_of(in.next());
        }
    }
    return script;
}

bool is_local(std::int32_t status) {
    return status == vrl::gateway::kStatusConnect || status == vrl::gateway::kStatusSend ||
           status == vrl::gateway::kStatusReceive;
}

void check_text(std::string_view text) {
    check(text.size() <= 128);
    check(text.find('\0') == std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const Script script = read_script(in);
    ScriptedSocketApi api;
    const GatewayTimeouts limits;
    {
        GatewayConnection connection(api, limits);
        for (const auto& answer : script.answers) {
            api.answer(answer);
        }
        for (std::size_t call = 0; call < script.answers.size(); ++call) {
            api.idle(script.pauses[call]);
            const std::size_t requests = api.requests().size();
            const auto before = api.now();
            GatewayResult r{};
            switch (call % 4) {
            case 0:
                r.status = connection.start("127.0.0.1", "7000", "demo", "demo");
                break;
            case 1:
                r = connection.submit("0912345678", "fuzz");
                break;
            case 2:
                r = connection.submit_at("0912345678", "fuzz", "20270101083000");
                break;
            default:
                r = connection.query("0912345678", "1000001");
                break;
            }
            const Ms took = api.elapsed_since(before);
            check((r.status >= 0 && r.status <= 255) || is_local(r.status));
            check_text(r.text);
            check(took <= limits.receive);
            const std::size_t sent = api.requests().size() - requests;
            check(sent == (r.status == vrl::gateway::kStatusSend || r.status == vrl::gateway::kStatusConnect ? 0u : 1u));
            check(api.bytes_sent_after_close() == 0);
            // A connection the call had to give up on is ended.
            check(!is_local(r.status) || !connection.is_open());
        }
    }
    check(api.balanced());
    return 0;
}
