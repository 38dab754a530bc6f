// The front end: replacement variables, substitution, tokens and the language's tables.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "module_path.h"
#include "script_resource.h"
#include "script_runner.h"
#include "script_tables.h"
#include "script_test_support.h"

namespace vrl::regscript::test {
namespace {

class ScriptLanguage : public ScriptTest {
protected:
    // Expands `text` with the given variables; the expanded text, or the failure as "error <hr>".
    // With fail_at set, task memory fails from that allocation of the pass on.
    std::string Expand(const std::string& text,
                       std::initializer_list<std::pair<WideString, WideString>> variables = {},
                       long fail_at = -1) {
        memory().FailAt(-1);
        ReplacementMap map(memory(), this->text());
        for (const auto& [name, value] : variables) {
            EXPECT_EQ(map.Add(name.c_str(), value.c_str()), S_OK);
        }
        memory().FailAt(fail_at);
        const ScriptEnvironment env = environment();
        ScriptReader reader(map, env);
        char* expanded = nullptr;
        const HRESULT hr = ExpandVariables(reader, text.c_str(), &expanded);
        if (Failed(hr)) {
            EXPECT_EQ(expanded, nullptr);
            return "error " + std::to_string(hr);
        }
        std::string result(expanded);
        memory().Free(expanded);
        return result;
    }

    // Every token of `text`, with the failure of the read that ended them as "error <hr>".
    std::vector<std::string> Tokens(const std::string& text) {
        ReplacementMap map(memory(), this->text());
        const ScriptEnvironment env = environment();
        ScriptReader reader(map, env);
        reader.cursor = text.c_str();
        std::vector<std::string> tokens;
        TokenBuffer token;
        for (;;) {
            SkipBlanks(reader);
            if (*reader.cursor == '\0') {
                return tokens;
            }
            const HRESULT hr = ReadToken(reader, token);
            if (Failed(hr)) {
                tokens.push_back("error " + std::to_string(hr));
                return tokens;
            }
            tokens.emplace_back(token.data());
        }
    }
};

const std::string kDispException = "error " + std::to_string(DISP_E_EXCEPTION);
const std::string kFail = "error " + std::to_string(E_FAIL);
const std::string kOutOfMemory = "error " + std::to_string(E_OUTOFMEMORY);

TEST_F(ScriptLanguage, VariablesExpandByNameInAnyCaseFirstDefinitionWins) {
    EXPECT_EQ(Expand("a %MODULE% b %module% c '%MoDuLe%'",
                     {{Wide("Module"), Wide("x.dll")}, {Wide("MODULE"), Wide("other")}}),
              "a x.dll b x.dll c 'x.dll'");
    EXPECT_EQ(Expand("100%% sure %%%v%%%", {{Wide("v"), Wide("V")}}), "100% sure %V%");
    EXPECT_EQ(Expand("%empty%|", {{Wide("empty"), Wide("")}}), "|");
}

TEST_F(ScriptLanguage, MalformedReferencesFail) {
    EXPECT_EQ(Expand("ends with %"), kDispException);
    EXPECT_EQ(Expand("%unclosed name"), kDispException);
    EXPECT_EQ(Expand("%undefined%"), kDispException);
    const std::string name31(31, 'n');
    const std::string name32(32, 'n');
    EXPECT_EQ(Expand("%" + name31 + "%", {{Wide(name31), Wide("ok")}}), "ok");
    EXPECT_EQ(Expand("%" + name32 + "%", {{Wide(name32), Wide("ok")}}), kFail);
}

TEST_F(ScriptLanguage, ExpandedTextGrowsFromEmptyAndPastTwiceTheSource) {
    EXPECT_EQ(Expand(""), "");
    EXPECT_EQ(Expand("%v%", {{Wide("v"), Wide("")}}), "");
    const std::string long_value(10000, 'x');
    EXPECT_EQ(Expand("%v%%v%", {{Wide("v"), Wide(long_value)}}), long_value + long_value);
}

TEST_F(ScriptLanguage, ExpansionOutOfMemoryFailsWithNothingLeft) {
    const std::string long_value(300, 'y');
    for (long n = 0;; ++n) {
        const std::string result = Expand("a%v%b%v%", {{Wide("v"), Wide(long_value)}}, n);
        if (!memory().injected()) {
            EXPECT_EQ(result, "a" + long_value + "b" + long_value);
            EXPECT_GT(n, 1) << "the pass allocates and grows its buffer";
            break;
        }
        EXPECT_EQ(result, kOutOfMemory) << "allocation " << n;
        EXPECT_EQ(memory().live(), 0u) << "allocation " << n;
    }
}

TEST_F(ScriptLanguage, ReplacementMapGrowsAndKeepsOrder) {
    ReplacementMap map(memory(), text());
    for (int i = 0; i < 25; ++i) {
        ASSERT_EQ(map.Add(Wide("v" + std::to_string(i)).c_str(),
                          Wide("value" + std::to_string(i)).c_str()),
                  S_OK);
    }
    EXPECT_EQ(map.count(), 25);
    EXPECT_EQ(map.capacity(), 40);
    for (int i = 0; i < 25; ++i) {
        const WideChar* value = map.Find(("V" + std::to_string(i)).c_str());
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(WideString(value), Wide("value" + std::to_string(i)));
    }
    EXPECT_EQ(map.Find("v25"), nullptr);
    map.Clear();
    EXPECT_EQ(map.count(), 0);
    EXPECT_EQ(map.Find("v1"), nullptr);
}

TEST_F(ScriptLanguage, ReplacementMapOutOfMemoryKeepsEarlierEntries) {
    for (long n = 0;; ++n) {
        memory().FailAt(-1);
        ReplacementMap map(memory(), text());
        for (int i = 0; i < 10; ++i) {
            ASSERT_EQ(map.Add(Wide("k" + std::to_string(i)).c_str(), Wide("v").c_str()), S_OK);
        }
        // The eleventh entry needs four allocations and the array's growth.
        memory().FailAt(n);
        const HRESULT hr = map.Add(Wide("late").c_str(), Wide("value").c_str());
        if (!memory().injected()) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_EQ(map.count(), 11);
            break;
        }
        EXPECT_EQ(hr, E_OUTOFMEMORY) << "allocation " << n;
        EXPECT_EQ(map.count(), 10);
        EXPECT_EQ(map.capacity(), 10);
        EXPECT_EQ(map.Find("late"), nullptr);
        ASSERT_NE(map.Find("k9"), nullptr);
        EXPECT_EQ(memory().live(), 31u) << "ten entries of three blocks and the array";
    }
    memory().FailAt(0);
    ReplacementMap without_array(memory(), text());
    memory().FailAt(-1);
    EXPECT_EQ(without_array.Add(Wide("a").c_str(), Wide("b").c_str()), E_OUTOFMEMORY);
    EXPECT_EQ(without_array.count(), 0);
}

TEST_F(ScriptLanguage, QuotedTokens) {
    EXPECT_EQ(Tokens("'' '''' 'a ''b'' {c} = %d' x'y"),
              (std::vector<std::string>{"", "'", "a 'b' {c} = %d", "x'y"}));
    EXPECT_EQ(Tokens("'unterminated"), (std::vector<std::string>{kDispException}));
    EXPECT_EQ(Tokens("'a''"), (std::vector<std::string>{kDispException}));
}

TEST_F(ScriptLanguage, OnlyFourBlanksSeparateTokens) {
    EXPECT_EQ(Tokens("a\tb\nc\rd e\vf\fg{h}=i"),
              (std::vector<std::string>{"a", "b", "c", "d", "e\vf\fg{h}=i"}));
}

TEST_F(ScriptLanguage, TokenLengthLimit) {
    const std::string fits(4094, 't');
    EXPECT_EQ(Tokens(fits), (std::vector<std::string>{fits}));
    EXPECT_EQ(Tokens("'" + fits + "'"), (std::vector<std::string>{fits}));
    EXPECT_EQ(Tokens(fits + "t"), (std::vector<std::string>{kDispException}));
    EXPECT_EQ(Tokens("'" + fits + "t'"), (std::vector<std::string>{kDispException}));
    // A doubled quote counts once.
    EXPECT_EQ(Tokens("'" + std::string(4093, 't') + "'''"),
              (std::vector<std::string>{std::string(4093, 't') + "'"}));
}

// The script text's code page with one change, for what the platform's code pages may do.
class AlteredText : public CodePageText {
public:
    explicit AlteredText(const CodePageText& base) : base_(base) {}
    bool IsLeadByte(unsigned char byte) const noexcept override { return base_.IsLeadByte(byte); }
    const char* CharNext(const char* position) const noexcept override {
        return base_.CharNext(position);
    }
    int CompareNoCase(const char* left, const char* right) const noexcept override {
        return base_.CompareNoCase(left, right);
    }
    int ToWide(const char* source, int source_bytes, WideChar* target,
               int target_units) const noexcept override {
        return base_.ToWide(source, source_bytes, target, target_units);
    }
    int ToNarrow(const WideChar* source, int source_units, char* target,
                 int target_bytes) const noexcept override {
        return base_.ToNarrow(source, source_units, target, target_bytes);
    }
    bool ParseUInt32(const WideChar* text, std::uint32_t* value) const noexcept override {
        return base_.ParseUInt32(text, value);
    }

private:
    const CodePageText& base_;
};

// Turkish letter case: "i" is not the lower case of "I", so "clsid" is not "CLSID".
class TurkishCase final : public AlteredText {
public:
    using AlteredText::AlteredText;
    int CompareNoCase(const char* left, const char* right) const noexcept override {
        auto fold = [](char c) {
            return c >= 'a' && c <= 'z' && c != 'i' ? static_cast<char>(c - 'a' + 'A') : c;
        };
        for (;; ++left, ++right) {
            if (fold(*left) != fold(*right)) {
                return fold(*left) < fold(*right) ? -1 : 1;
            }
            if (*left == '\0') {
                return 0;
            }
        }
    }
};

TEST_F(ScriptLanguage, ProtectedNamesHoldInEveryLocale) {
    const TurkishCase turkish(text());
    ASSERT_NE(turkish.CompareNoCase("clsid", "CLSID"), 0);
    EXPECT_TRUE(IsProtectedKeyName(turkish, "clsid"));
    EXPECT_TRUE(IsProtectedKeyName(turkish, "TypeLib"));
    EXPECT_TRUE(IsProtectedKeyName(turkish, "CLSID"));
    EXPECT_FALSE(IsProtectedKeyName(turkish, "CLSIDs"));
    EXPECT_FALSE(IsProtectedKeyName(turkish, "CLSI"));
    EXPECT_FALSE(IsProtectedKeyName(text(), "TypeLibs"));
}

// Characters of three bytes, as UTF-8 has them: a lead byte 0xE0 to 0xEF takes two more with it.
class ThreeByteText final : public AlteredText {
public:
    using AlteredText::AlteredText;
    const char* CharNext(const char* position) const noexcept override {
        const auto byte = static_cast<unsigned char>(*position);
        if (byte >= 0xE0 && byte <= 0xEF && position[1] != '\0' && position[2] != '\0') {
            return position + 3;
        }
        return AlteredText::CharNext(position);
    }
};

TEST_F(ScriptLanguage, TokenLimitHoldsForCharactersOfAnyLength) {
    const ThreeByteText three(text());
    ReplacementMap map(memory(), three);
    const ScriptEnvironment env{registry(), three, memory()};
    ScriptReader reader(map, env);
    TokenBuffer token;
    // A character must fit whole before the terminating NUL.
    const std::string fits = std::string(4092, 't') + "\xE4\xB8\x80";
    reader.cursor = fits.c_str();
    ASSERT_EQ(ReadToken(reader, token), S_OK);
    EXPECT_EQ(std::string(token.data()), fits);
    const std::string overruns = std::string(4093, 't') + "\xE4\xB8\x80";
    reader.cursor = overruns.c_str();
    EXPECT_EQ(ReadToken(reader, token), DISP_E_EXCEPTION);
}

TEST_F(ScriptLanguage, RootKeyTable) {
    EXPECT_EQ(FindRootKey(text(), "HKCR"), HKEY_CLASSES_ROOT);
    EXPECT_EQ(FindRootKey(text(), "hkcu"), HKEY_CURRENT_USER);
    EXPECT_EQ(FindRootKey(text(), "hkey_local_machine"), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(FindRootKey(text(), "HKLM"), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(FindRootKey(text(), "HKU"), HKEY_USERS);
    EXPECT_EQ(FindRootKey(text(), "HKPD"), HKEY_PERFORMANCE_DATA);
    EXPECT_EQ(FindRootKey(text(), "HKDD"), HKEY_DYN_DATA);
    EXPECT_EQ(FindRootKey(text(), "HKCC"), HKEY_CURRENT_CONFIG);
    EXPECT_EQ(FindRootKey(text(), "HKEY_DYN_DATA"), HKEY_DYN_DATA);
    EXPECT_EQ(FindRootKey(text(), "HKEY_CURRENT_CONFIG"), HKEY_CURRENT_CONFIG);
    EXPECT_EQ(FindRootKey(text(), "HKCR{"), nullptr);
    EXPECT_EQ(FindRootKey(text(), "HKEY"), nullptr);
    EXPECT_EQ(FindRootKey(text(), ""), nullptr);
}

TEST_F(ScriptLanguage, ValueTypesAndHexDigits) {
    ValueKind kind{};
    ASSERT_TRUE(FindValueType(text(), "s", &kind));
    EXPECT_EQ(kind, ValueKind::String);
    ASSERT_TRUE(FindValueType(text(), "D", &kind));
    EXPECT_EQ(kind, ValueKind::Number);
    ASSERT_TRUE(FindValueType(text(), "b", &kind));
    EXPECT_EQ(kind, ValueKind::Binary);
    EXPECT_FALSE(FindValueType(text(), "SZ", &kind));
    EXPECT_FALSE(FindValueType(text(), "", &kind));
    EXPECT_EQ(HexDigitValue('0'), 0u);
    EXPECT_EQ(HexDigitValue('9'), 9u);
    EXPECT_EQ(HexDigitValue('a'), 10u);
    EXPECT_EQ(HexDigitValue('F'), 15u);
    EXPECT_EQ(HexDigitValue('g'), 0u);
    EXPECT_EQ(HexDigitValue('\xA4'), 0u);
}

TEST_F(ScriptLanguage, ResourceTextEndsAtItsSizeOrFirstNul) {
    const char no_nul[] = {'H', 'K', 'C', 'U', 'x'};
    TaskBlock<char> copy(memory());
    const char* script = nullptr;
    ASSERT_EQ(ScriptTextFromResource(no_nul, 4, copy, &script), S_OK);
    EXPECT_STREQ(script, "HKCU");
    EXPECT_NE(script, no_nul);

    const char embedded[] = {'a', '\0', 'b'};
    ASSERT_EQ(ScriptTextFromResource(embedded, sizeof embedded, copy, &script), S_OK);
    EXPECT_EQ(script, embedded);

    ASSERT_EQ(ScriptTextFromResource(nullptr, 0, copy, &script), S_OK);
    EXPECT_STREQ(script, "");

    copy.reset(nullptr);
    memory().FailAt(0);
    EXPECT_EQ(ScriptTextFromResource(no_nul, 4, copy, &script), E_OUTOFMEMORY);
    EXPECT_EQ(script, nullptr);
}

// Path queries that answer as told.
class FakeModulePaths final : public ModulePathApi {
public:
    std::string long_path;
    DWORD long_result = 0;
    std::string short_path;
    DWORD short_result = 0;
    DWORD last_error = 0;

    DWORD GetModuleFileNameA(void*, char* buffer, DWORD size) noexcept override {
        const std::size_t n = std::min<std::size_t>(long_path.size(), size);
        std::memcpy(buffer, long_path.data(), n);
        if (n < size) {
            buffer[n] = '\0';
        }
        return long_result;
    }
    DWORD GetShortPathNameA(const char* queried, char* buffer, DWORD size) noexcept override {
        EXPECT_EQ(std::string(queried), long_path);
        if (short_result != 0 && short_result < size) {
            std::memcpy(buffer, short_path.c_str(), short_path.size() + 1);
        }
        return short_result;
    }
    DWORD GetLastError() noexcept override { return last_error; }
};

TEST_F(ScriptLanguage, ModulePathPrefersShortFormAndNeverTruncates) {
    FakeModulePaths paths;
    char path[kPathSize];
    paths.long_path = "C:\\Program Files\\Vrl\\vrlcom.dll";
    paths.long_result = static_cast<DWORD>(paths.long_path.size());
    paths.short_path = "C:\\PROGRA~1\\Vrl\\vrlcom.dll";
    paths.short_result = static_cast<DWORD>(paths.short_path.size());
    ASSERT_EQ(GetScriptModulePath(paths, nullptr, path), S_OK);
    EXPECT_STREQ(path, paths.short_path.c_str());

    paths.short_result = 0;  // the short form cannot be had: the long one serves
    ASSERT_EQ(GetScriptModulePath(paths, nullptr, path), S_OK);
    EXPECT_STREQ(path, paths.long_path.c_str());

    paths.long_path = std::string(300, 'p');
    paths.long_result = kPathSize;  // cut short by the platform
    EXPECT_EQ(GetScriptModulePath(paths, nullptr, path),
              HResultFromError(ERROR_INSUFFICIENT_BUFFER));

    paths.long_path = "C:\\x.dll";
    paths.long_result = 8;
    paths.short_result = 300;  // the short form would not fit: the long one serves
    ASSERT_EQ(GetScriptModulePath(paths, nullptr, path), S_OK);
    EXPECT_STREQ(path, "C:\\x.dll");

    paths.long_result = 0;
    paths.last_error = 126;
    EXPECT_EQ(GetScriptModulePath(paths, nullptr, path), HResultFromError(126));
    paths.last_error = 0;
    EXPECT_EQ(GetScriptModulePath(paths, nullptr, path), E_FAIL);
}

TEST_F(ScriptLanguage, ModuleQuotesAreDoubled) {
    const WideString path = Wide("C:\\it's\\o''k.dll");
    std::vector<WideChar> escaped(path.size() * 2 + 1);
    EscapeQuotes(path.c_str(), escaped.data());
    EXPECT_EQ(WideString(escaped.data()), Wide("C:\\it''s\\o''''k.dll"));
}

// Double-byte text: every scan steps over a lead byte and its trail byte together.
class DoubleByteLanguage : public ScriptLanguage {
protected:
    void SetUp() override {
        UseCodePage(950);
        // Without code page 950 these cases would test nothing: they fail instead.
        ASSERT_TRUE(DoubleByteCodePageActive(text())) << "needs code page 950 (LC_ALL=zh_TW.Big5)";
        ScriptLanguage::SetUp();
    }
};

TEST_F(DoubleByteLanguage, TrailBytesAreNeverQuotesPercentsOrBlanks) {
    // \xA4\x27, \xA4\x25, \xA4\x20 are lead bytes followed by a quote, a percent sign and a blank.
    EXPECT_EQ(Tokens("'a\xA4\x27 b' c\xA4\x20" "d"),
              (std::vector<std::string>{"a\xA4\x27 b", "c\xA4\x20" "d"}));
    EXPECT_EQ(Expand("x\xA4%y"), "x\xA4%y");
    EXPECT_EQ(Expand("%%\xA4%%%"), "%\xA4%%");
}

TEST_F(DoubleByteLanguage, ValuesConvertWholeCharacters) {
    // The wide form of two Big5 characters, as the platform converts them.
    const std::string narrow = "\xB3\x5C\xA4\x40z";
    WideChar wide[16] = {};
    ASSERT_GT(text().ToWide(narrow.c_str(), -1, wide, 16), 0);
    EXPECT_EQ(Expand("[%v%]", {{Wide("v"), WideString(wide)}}), "[" + narrow + "]");
}

TEST_F(DoubleByteLanguage, TokenLimitCountsWholeCharacters) {
    // A double-byte character that starts at byte 4093 still fits: 4095 bytes of text.
    const std::string fits = std::string(4093, 't') + "\xA4\x40";
    EXPECT_EQ(Tokens(fits), (std::vector<std::string>{fits}));
    EXPECT_EQ(Tokens(std::string(4094, 't') + "\xA4\x40"),
              (std::vector<std::string>{kDispException}));
}

}  // namespace
}  // namespace vrl::regscript::test
