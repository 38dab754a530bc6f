#include "gateway_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vrl::gateway {
namespace {

std::string body_of(const GatewayRequest& request) {
    return {reinterpret_cast<const char*>(request.bytes.data() + kBodyOffset), request.bytes[2]};
}

bool zero_from(const GatewayRequest& request, std::size_t first) {
    for (std::size_t i = first; i < kRequestSize; ++i) {
        if (request.bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

GatewayResponse response_of(std::initializer_list<std::uint8_t> bytes) {
    GatewayResponse response;
    std::size_t i = 0;
    for (std::uint8_t b : bytes) {
        response.bytes[i++] = b;
    }
    return response;
}

TEST(GatewayFrame, SubmitBodyIsPackedFieldsWithTerminators) {
    GatewayRequest request;
    request.bytes.fill(0xAA);
    ASSERT_TRUE(build_request(request, Command::Submit, {"0912345678", "hello", kMarkerNow}));
    EXPECT_EQ(request.bytes[0], 0);
    EXPECT_EQ(request.bytes[1], 0x01);
    EXPECT_EQ(request.bytes[2], 19);
    EXPECT_EQ(body_of(request), std::string("0912345678\0hello\0d\0", 19));
    EXPECT_TRUE(zero_from(request, 22));
}

TEST(GatewayFrame, EmptyFieldsTakeOneByteEach) {
    GatewayRequest request;
    request.bytes.fill(0xAA);
    ASSERT_TRUE(build_request(request, Command::Login, {"", ""}));
    EXPECT_EQ(request.bytes[1], 0x00);
    EXPECT_EQ(request.bytes[0], 0);
    EXPECT_EQ(request.bytes[2], 2);
    EXPECT_TRUE(zero_from(request, kBodyOffset));

    ASSERT_TRUE(build_request(request, Command::Submit, {"0912", "hi", kMarkerAt, ""}));
    EXPECT_EQ(request.bytes[2], 4 + 2 + 5);
    EXPECT_EQ(body_of(request), std::string("0912\0hi\0e\0\0", 11));
    EXPECT_TRUE(zero_from(request, kBodyOffset + 11));
}

TEST(GatewayFrame, QueryCarriesNumberAndId) {
    GatewayRequest request;
    ASSERT_TRUE(build_request(request, Command::Query, {"0912", "1000001"}));
    EXPECT_EQ(request.bytes[1], 0x02);
    EXPECT_EQ(body_of(request), std::string("0912\0" "1000001\0", 13));
}

TEST(GatewayFrame, BytesAboveAsciiArePassedThrough) {
    GatewayRequest request;
    const std::string big5 = "\xA4\xA4\xA4\xE5";  // two double-byte characters: 4 bytes
    ASSERT_TRUE(build_request(request, Command::Submit, {"1", big5, kMarkerNow}));
    EXPECT_EQ(request.bytes[2], 2 + 5 + 2);
    EXPECT_EQ(body_of(request).substr(2, 4), big5);
}

TEST(GatewayFrame, BodyOf255BytesFitsAnd256IsRefusedWithTheRequestCleared) {
    GatewayRequest request;
    const std::string a(127, 'a');
    const std::string b(126, 'b');
    ASSERT_TRUE(build_request(request, Command::Login, {a, b}));
    EXPECT_EQ(request.bytes[2], 255);
    EXPECT_EQ(request.bytes[kRequestSize - 1], 0);
    EXPECT_EQ(request.bytes[kRequestSize - 2], 'b');

    request.bytes.fill(0xAA);
    EXPECT_FALSE(build_request(request, Command::Login, {a, b + "b"}));
    EXPECT_TRUE(zero_from(request, 0));
}

TEST(GatewayFrame, BodyLengthSaturatesForHugeFields) {
    const std::string huge(70000, 'x');
    EXPECT_EQ(body_length({huge}), kRequestSize);
    EXPECT_EQ(body_length({"", "", "d"}), 4u);
    // A field longer than the frame must not look short to the size check.
    GatewayRequest request;
    EXPECT_FALSE(build_request(request, Command::Login, {huge, ""}));
}

TEST(GatewayFrame, PutFieldStringReturnsWhereTheNextFieldBegins) {
    std::uint8_t body[16];
    std::fill(std::begin(body), std::end(body), std::uint8_t{0xAA});
    EXPECT_EQ(put_field_string(body, "abc", 2), 6u);
    EXPECT_EQ(body[5], 0);
    EXPECT_EQ(body[6], 0xAA);
    EXPECT_EQ(put_field_string(body, "", 6), 7u);
    EXPECT_EQ(body[6], 0);
}

TEST(GatewayFrame, ResponseStatusIsUnsigned) {
    const GatewayResponse response = response_of({0xC8, 'o', 'k', 0});
    EXPECT_EQ(response_status(response), 200);
    EXPECT_EQ(response_text(response), "ok");
}

TEST(GatewayFrame, OneByteResponseHasAnEmptyText) {
    const GatewayResponse response = response_of({0x07});
    EXPECT_EQ(response_status(response), 7);
    EXPECT_EQ(response_text(response), "");
}

TEST(GatewayFrame, ResponseWithoutNulGivesA128ByteText) {
    GatewayResponse response;
    response.bytes.fill('x');
    response.bytes[0] = 0;
    EXPECT_EQ(response_text(response).size(), 128u);
}

TEST(GatewayFrame, ResponseTextEndsAtTheFirstNul) {
    const GatewayResponse response = response_of({0, 'a', 0, 'b', 0});
    EXPECT_EQ(response_text(response), "a");
}

TEST(GatewayFrame, ResponseIsWholeAtItsFirstNulAfterTheStatusOrAt129Bytes) {
    struct Case {
        std::vector<std::uint8_t> received;
        bool whole;
    };
    const Case cases[] = {
        {{0}, false},             // a status byte of 0 is no terminator
        {{7}, false},             // the status byte alone: only the grace ends it
        {{0, 'a'}, false},
        {{0, 'a', 0}, true},
        {{0, 0}, true},           // an empty text
        {{5, 0, 'x', 'y'}, true},  // bytes after the NUL do not matter
    };
    for (const Case& c : cases) {
        GatewayResponse response;
        std::copy(c.received.begin(), c.received.end(), response.bytes.begin());
        EXPECT_EQ(response_complete(response, c.received.size()), c.whole) << c.received.size();
    }
    GatewayResponse full;
    full.bytes.fill('x');
    EXPECT_FALSE(response_complete(full, kResponseSize - 1));
    EXPECT_TRUE(response_complete(full, kResponseSize));
    // A NUL beyond what was received (the buffer's own zero fill) is not a terminator.
    GatewayResponse zeroed;
    zeroed.bytes[1] = 'a';
    EXPECT_FALSE(response_complete(zeroed, 2));
}

}  // namespace
}  // namespace vrl::gateway
