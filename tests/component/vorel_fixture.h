#pragma once
// A Vorel object made by the library's own creator, a gateway simulator to talk to, and helpers
// that call the five methods with wide strings.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "VRLCOM.h"
#include "com_ptr.h"
#include "gateway_simulator.h"
#include "vorel_creators.h"

namespace vrl::test {

struct Outcome {
    HRESULT hr;
    int status;
    std::wstring text;
};

inline std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

class VorelTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::SimulatorOptions options = Options();
        options.keep_history = true;
        sim_ = std::make_unique<sim::GatewaySimulator>(options);
        sim_->start();
        port_ = std::to_wstring(sim_->port());
        ASSERT_EQ(server::CreateVorel(nullptr, IID_IVorel, vorel_.put_void()), S_OK);
    }

    virtual sim::SimulatorOptions Options() { return {}; }

    int Start(const wchar_t* user = L"demo", const wchar_t* password = L"demo") {
        Bstr ip(L"127.0.0.1");
        Bstr port(port_.c_str());
        Bstr u(user);
        Bstr p(password);
        int status = 12345;
        EXPECT_EQ(vorel_->StartCon(ip.get(), port.get(), u.get(), p.get(), &status), S_OK);
        return status;
    }

    Outcome Send(const std::wstring& mobile, const std::wstring& message) {
        Bstr m(mobile.c_str(), static_cast<UINT>(mobile.size()));
        Bstr t(message.c_str(), static_cast<UINT>(message.size()));
        Outcome out{E_FAIL, 12345, {}};
        Bstr text;
        out.hr = vorel_->SendMsg(m.get(), t.get(), &out.status, text.put());
        out.text = text.str();
        return out;
    }

    Outcome SendAt(const std::wstring& mobile, const std::wstring& message, const std::wstring& time) {
        Bstr m(mobile.c_str());
        Bstr t(message.c_str());
        Bstr at(time.c_str());
        Outcome out{E_FAIL, 12345, {}};
        Bstr text;
        out.hr = vorel_->SendMsg_Order(m.get(), t.get(), at.get(), &out.status, text.put());
        out.text = text.str();
        return out;
    }

    Outcome Query(const std::wstring& mobile, const std::wstring& id) {
        Bstr m(mobile.c_str());
        Bstr i(id.c_str());
        Outcome out{E_FAIL, 12345, {}};
        Bstr text;
        out.hr = vorel_->QueryMsg(m.get(), i.get(), &out.status, text.put());
        out.text = text.str();
        return out;
    }

    std::size_t Received() const { return sim_->received().size(); }

    std::unique_ptr<sim::GatewaySimulator> sim_;
    std::wstring port_;
    ComPtr<IVorel> vorel_;
};

}  // namespace vrl::test
