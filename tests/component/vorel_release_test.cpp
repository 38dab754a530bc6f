// Releasing the last reference of an object whose connection is open ends the connection. Its own
// program: the simulator's networking library holds a socket-library start of its own, which
// would hide an unbalanced one.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>

#include "VRLCOM.h"
#include "com_ptr.h"
#include "scripted_gateway.h"
#include "vorel_creators.h"

namespace vrl::test {
namespace {

TEST(VorelRelease, ReleasingAnOpenObjectClosesItsConnection) {
    WSADATA data;
    ASSERT_EQ(::WSAStartup(MAKEWORD(1, 1), &data), 0);
    {
        ScriptedGateway gateway({std::string("\0login ok\0", 10)});
        ComPtr<IVorel> vorel;
        ASSERT_EQ(server::CreateVorel(nullptr, IID_IVorel, vorel.put_void()), S_OK);
        ASSERT_EQ(gateway.StartCon(vorel.get()), 0);
        vorel.reset();
        EXPECT_TRUE(gateway.WaitForClientClose(5000));
    }
    // Only this test's own start of the socket library is left: the object balanced its own.
    EXPECT_EQ(::WSACleanup(), 0);
    EXPECT_EQ(::WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(::WSAGetLastError(), WSANOTINITIALISED);
}

}  // namespace
}  // namespace vrl::test
