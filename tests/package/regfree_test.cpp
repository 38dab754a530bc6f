// Registration-free use in a prefix where nothing is registered: the early-bound client, with its
// application manifest and the VRLCOM assembly (VRLCOM.manifest and the shipped DLL) beside it,
// creates the class and talks to the gateway simulator, from its own apartment and, through the
// proxy that the assembly declares for IVorel, from the multithreaded one; the same client without
// the manifests cannot create it.
#include <string>
#include <vector>

#include "gateway_simulator.h"
#include "host_fixture.h"

namespace vrl::test {
namespace {

void CopyInto(const std::wstring& folder, const std::wstring& from, const std::wstring& name) {
    ASSERT_TRUE(::CopyFileW(WindowsPath(from).c_str(), (folder + L"\\" + name).c_str(), FALSE)) << Narrow(name);
}

std::wstring MakeFolder(const std::wstring& folder, bool with_manifests) {
    ::CreateDirectoryW(L"C:\\regfree", nullptr);
    EXPECT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    CopyInto(folder, VRL_CLIENT_PATH, L"client.exe");
    CopyInto(folder, VRL_RELEASE_DIR L"/VRLCOM.DLL", L"VRLCOM.DLL");
    if (with_manifests) {
        CopyInto(folder, VRL_RELEASE_DIR L"/client.exe.manifest", L"client.exe.manifest");
        CopyInto(folder, VRL_RELEASE_DIR L"/VRLCOM.manifest", L"VRLCOM.manifest");
    }
    return Quoted(folder + L"\\client.exe");
}

// The version in the shipped DLL's version block.
std::wstring FileVersion(const std::wstring& path) {
    DWORD ignored = 0;
    std::vector<BYTE> block(::GetFileVersionInfoSizeW(path.c_str(), &ignored));
    if (block.empty() || !::GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data())) {
        return L"";
    }
    VS_FIXEDFILEINFO* info = nullptr;
    UINT size = 0;
    if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &size) || info == nullptr) {
        return L"";
    }
    std::wstring version;
    for (const DWORD part : {HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                             HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS)}) {
        version += (version.empty() ? L"" : L".") + std::to_wstring(part);
    }
    return version;
}

TEST(RegistrationFree, TheClientCreatesTheClassFromTheAssemblyBesideIt) {
    ASSERT_FALSE(ClassesKeyExists(ClassKey())) << "the prefix is not a fresh one";
    ASSERT_FALSE(ClassesKeyExists(TypeLibKey())) << "the prefix is not a fresh one";
    EXPECT_EQ(FileVersion(WindowsPath(VRL_RELEASE_DIR L"/VRLCOM.DLL")), VRL_VERSION);

    sim::GatewaySimulator simulator(sim::with_history());
    simulator.start();
    const std::wstring server = L" 127.0.0.1 " + std::to_wstring(simulator.port());

    // Without the manifests, nothing tells the platform where the class is.
    const ProcessResult bare = RunProcess(MakeFolder(L"C:\\regfree\\bare", false) + server);
    EXPECT_TRUE(bare.finished);
    EXPECT_EQ(bare.exit_code, 100u) << bare.output;
    EXPECT_EQ(bare.output, "cannot create VRLCOM.Vorel: 0x80040154\n");
    EXPECT_TRUE(simulator.received().empty());

    const std::wstring client = MakeFolder(L"C:\\regfree\\assembly", true);
    const auto run_client = [&client](const std::wstring& apartment) {
        sim::GatewaySimulator gateway(sim::with_history());
        gateway.start();
        const ProcessResult run = RunProcess(client + apartment + L" 127.0.0.1 " + std::to_wstring(gateway.port()));
        ExpectOk(run, "client with manifests");
        EXPECT_EQ(run.output, kEarlyBoundClientOutput) << Narrow(apartment);
        EXPECT_EQ(gateway.received().size(), 5u);
    };
    run_client(L"");
    // Nothing was registered on the way.
    EXPECT_FALSE(ClassesKeyExists(ClassKey()));
    EXPECT_FALSE(ClassesKeyExists(TypeLibKey()));
    // From the multithreaded apartment, through the proxy. (Wine's marshaler then registers the
    // type library it found through the assembly.)
    run_client(L" --mta");
    EXPECT_FALSE(ClassesKeyExists(ClassKey()));
}

}  // namespace
}  // namespace vrl::test
