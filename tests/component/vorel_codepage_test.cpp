// Narrow text in a double-byte code page. The program runs with the host's ANSI code page set to
// 950 (Traditional Chinese, Big5): message lengths are byte counts of the Big5 text, the bytes on
// the wire are Big5, a Big5 text from the gateway comes back as the right wide string, and a narrow
// copy never splits a character.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>

#include "VRLCOM.h"
#include "com_ptr.h"
#include "gateway_status.h"
#include "narrow_text.h"
#include "scripted_gateway.h"
#include "vorel_creators.h"

namespace vrl::test {
namespace {

// 中文 (U+4E2D U+6587) is A4 A4 A4 E5 in Big5; 已送達 (U+5DF2 U+9001 U+9054) is A4 77 B0 65 B9 46.
const std::wstring kChinese = L"\u4E2D\u6587";
const std::string kChineseBig5 = "\xA4\xA4\xA4\xE5";
const std::wstring kDelivered = L"\u5DF2\u9001\u9054";
const std::string kDeliveredBig5 = "\xA4\x77\xB0\x65\xB9\x46";

std::wstring Repeat(const std::wstring& text, int times) {
    std::wstring out;
    for (int i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

TEST(CodePage950, MessageLengthsAreBig5ByteCounts) {
    ASSERT_EQ(::GetACP(), 950u) << "the test must run with LC_ALL=zh_TW.Big5";

    const std::string reply_ok = std::string(1, '\0') + "ok" + std::string(1, '\0');
    const std::string reply_big5 = std::string(1, '\0') + kDeliveredBig5 + std::string(1, '\0');
    ScriptedGateway gateway({reply_ok, reply_big5});
    ComPtr<IVorel> vorel;
    ASSERT_EQ(server::CreateVorel(nullptr, IID_IVorel, vorel.put_void()), S_OK);

    ASSERT_EQ(gateway.StartCon(vorel.get()), 0);
    int status = -1;

    // 81 characters are 162 bytes: refused locally, nothing sent.
    Bstr mobile(L"0912345678");
    Bstr too_long((Repeat(kChinese, 40) + L"\u4E2D").c_str());
    ASSERT_EQ(::SysStringLen(too_long.get()), 81u);
    Bstr text;
    ASSERT_EQ(vorel->SendMsg(mobile.get(), too_long.get(), &status, text.put()), S_OK);
    EXPECT_EQ(status, gateway::kStatusMessageTooLong);
    EXPECT_EQ(text.str(), L"message content > max limit");

    // 80 characters are 160 bytes: sent, as Big5.
    Bstr full(Repeat(kChinese, 40).c_str());
    ASSERT_EQ(vorel->SendMsg(mobile.get(), full.get(), &status, text.put()), S_OK);
    EXPECT_EQ(status, 0);
    // The gateway's Big5 text comes back as wide characters.
    EXPECT_EQ(text.str(), kDelivered);

    const auto requests = gateway.Requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string body = std::string("0912345678") + '\0' + Repeat(kChineseBig5, 40) + '\0' + "d" + '\0';
    EXPECT_EQ(static_cast<unsigned char>(requests[1][1]), 0x01);
    EXPECT_EQ(static_cast<unsigned char>(requests[1][2]), body.size());
    EXPECT_EQ(requests[1].substr(3, body.size()), body);
    EXPECT_EQ(vorel->EndCon(), S_OK);
}

// A copy that fits a frame's body takes whole characters: 127 double-byte characters and one
// letter are 255 bytes, in place; 128 double-byte characters are 256 bytes, too many, and only
// measured.
TEST(CodePage950, ACopyInPlaceEndsOnACharacter) {
    ASSERT_EQ(::GetACP(), 950u) << "the test must run with LC_ALL=zh_TW.Big5";
    component::NarrowText narrow;
    ASSERT_TRUE(narrow.Assign((Repeat(kChinese, 63) + L"\u4E2Da").c_str()));
    EXPECT_EQ(narrow.View(), Repeat(kChineseBig5, 63) + "\xA4\xA4" + "a");
    ASSERT_TRUE(narrow.Assign((Repeat(kChinese, 64)).c_str()));
    EXPECT_EQ(narrow.View(), std::string(component::NarrowText::kCapacity + 1, '\0'));
}

}  // namespace
}  // namespace vrl::test
