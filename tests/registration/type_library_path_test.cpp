// The ".tlb" file name tried when a module's own file holds no loadable type library, and the help
// directory registered with a library path.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "type_library_path.h"

namespace vrl::server {
namespace {

using regscript::ModelCodePage;

std::string TlbName(const std::string& module_path, unsigned code_page = 1252) {
    char path[kTypeLibPathSize] = {};
    std::memcpy(path, module_path.c_str(), module_path.size() + 1);
    const ModelCodePage text(code_page);
    EXPECT_TRUE(ToTypeLibraryFileName(path, text)) << module_path;
    return path;
}

TEST(TypeLibraryFileName, ReplacesFromTheLastDot) {
    EXPECT_EQ(TlbName("Z:\\work\\VRLCOM.DLL"), "Z:\\work\\VRLCOM.tlb");
    EXPECT_EQ(TlbName("C:\\a.b\\VRLCOM.x.dll"), "C:\\a.b\\VRLCOM.x.tlb");
    EXPECT_EQ(TlbName("C:\\dir\\VRLCOM."), "C:\\dir\\VRLCOM.tlb");
    EXPECT_EQ(TlbName(".dll"), ".tlb");
}

TEST(TypeLibraryFileName, AppendsWhenThereIsNoDot) {
    EXPECT_EQ(TlbName("C:\\dir\\VRLCOM"), "C:\\dir\\VRLCOM.tlb");
    EXPECT_EQ(TlbName(""), ".tlb");
}

TEST(TypeLibraryFileName, ADotInADirectoryNameCutsThePathThere) {
    EXPECT_EQ(TlbName("C:\\my.dir\\VRLCOM"), "C:\\my.tlb");
}

TEST(TypeLibraryFileName, DoubleByteCharactersAreSteppedWhole) {
    // In the model of code page 950 a lead byte takes the next byte with it, whatever it is: the
    // "." after 0xA4 is a trail byte, not the extension's dot.
    EXPECT_EQ(TlbName("C:\\\xA4.\\VRLCOM", 950), "C:\\\xA4.\\VRLCOM.tlb");
    EXPECT_EQ(TlbName("C:\\\xA4.x.dll", 950), "C:\\\xA4.x.tlb");
    EXPECT_EQ(TlbName("C:\\\xA4.\\VRLCOM", 1252), "C:\\\xA4.tlb");
}

TEST(TypeLibraryFileName, ANameThatWouldNotFitLeavesThePathAlone) {
    const ModelCodePage text(1252);
    char path[kTypeLibPathSize];
    // 256 characters and no dot: ".tlb" and the NUL need 261 bytes.
    std::memset(path, 'a', 256);
    path[256] = '\0';
    EXPECT_FALSE(ToTypeLibraryFileName(path, text));
    EXPECT_EQ(std::strlen(path), 256u);
    // 255 characters fit exactly.
    path[255] = '\0';
    EXPECT_TRUE(ToTypeLibraryFileName(path, text));
    EXPECT_EQ(std::string(path + 255), ".tlb");
    // A long path whose extension is short enough to replace fits too.
    std::memset(path, 'b', 259);
    path[255] = '.';
    path[259] = '\0';
    EXPECT_TRUE(ToTypeLibraryFileName(path, text));
    EXPECT_EQ(std::string(path + 254), "b.tlb");
}

std::u16string HelpDirectory(const std::u16string& path) {
    regscript::WideChar directory[kTypeLibPathSize];
    std::basic_string<regscript::WideChar> wide(path.begin(), path.end());
    HelpDirectoryOf(wide.c_str(), directory);
    std::basic_string<regscript::WideChar> result(directory);
    return std::u16string(result.begin(), result.end());
}

TEST(HelpDirectory, KeepsTheLastSeparator) {
    EXPECT_EQ(HelpDirectory(u"Z:\\work\\build\\VRLCOM.DLL"), u"Z:\\work\\build\\");
    EXPECT_EQ(HelpDirectory(u"Z:/work/VRLCOM.tlb"), u"Z:/work/");
    EXPECT_EQ(HelpDirectory(u"Z:\\mixed/VRLCOM.DLL"), u"Z:\\mixed/");
    EXPECT_EQ(HelpDirectory(u"C:VRLCOM.DLL"), u"C:");
    EXPECT_EQ(HelpDirectory(u"\\\\server\\share\\VRLCOM.DLL"), u"\\\\server\\share\\");
}

TEST(HelpDirectory, EmptyWithoutASeparator) {
    EXPECT_EQ(HelpDirectory(u"VRLCOM.DLL"), u"");
    EXPECT_EQ(HelpDirectory(u""), u"");
}

TEST(HelpDirectory, APathFillingTheBufferIsCutInside) {
    std::u16string path(300, u'a');
    path[10] = u'\\';
    path[270] = u'\\';
    // Only what fits the buffer is looked at: the separator at 270 lies beyond it.
    EXPECT_EQ(HelpDirectory(path), path.substr(0, 11));
}

}  // namespace
}  // namespace vrl::server
