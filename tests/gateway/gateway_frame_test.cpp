#include "gateway_frame.h"

#include <gtest/gtest.h>

#include <string>

namespace vrl::gateway {
namespace {

TEST(GatewayFrame, SubmitBodyIsPackedFieldsWithTerminators) {
    GatewayRequest request;
    request.bytes.fill(0xAA);
    ASSERT_TRUE(build_request(request, Command::Submit, {"0912345678", "hello", kMarkerNow}));
    EXPECT_EQ(request.bytes[0], 0);
    EXPECT_EQ(request.bytes[1], 0x01);
    EXPECT_EQ(request.bytes[2], 19);
    const std::string body(reinterpret_cast<const char*>(request.bytes.data() + kBodyOffset), 19);
    EXPECT_EQ(body, std::string("0912345678\0hello\0d\0", 19));
    for (std::size_t i = 22; i < kRequestSize; ++i) {
        ASSERT_EQ(request.bytes[i], 0) << "byte " << i;
    }
}

}  // namespace
}  // namespace vrl::gateway
