// What scripts do to the registry: registering, unregistering, roll-back and the deletion rules,
// checked by comparing whole subtrees.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "key_tree.h"
#include "script_runner.h"
#include "script_test_support.h"

namespace vrl::regscript::test {
namespace {

class ScriptRun : public ScriptTest {
protected:
    // A script whose one root entry is the test's own key beneath HKCU, holding `body`.
    std::string Script(const std::string& body) const {
        return "HKCU\r\n{\r\n\t" + Root() + "\r\n\t{\r\n" + body + "\r\n\t}\r\n}\r\n";
    }
    std::string Key(const std::string& path) const { return Root() + "\\" + path; }
};

TEST_F(ScriptRun, RegistersKeysDefaultAndNamedValuesOfEveryType) {
    ASSERT_EQ(Run(Script("A = s 'one two' { val N = d 5\r\n val Big = D 4294967295\r\n"
                         " val Text = S '%%x' B = b 0a1B { Val Empty = b '' val Junk = b zz } }\r\n"
                         "'C d' { val Bad = d 12abc }"),
                  true),
              S_OK);
    EXPECT_EQ(DumpRoot(),
              "A\\\n"
              "A\\[] sz 'one two'\n"
              "A\\[Big] type 4 hex FF FF FF FF\n"
              "A\\[N] type 4 hex 05 00 00 00\n"
              "A\\[Text] sz '%x'\n"
              "A\\B\\\n"
              "A\\B\\[] type 3 hex 0A 1B\n"
              "A\\B\\[Empty] type 3 hex\n"
              "A\\B\\[Junk] type 3 hex 00\n"
              "C d\\\n"
              "C d\\[Bad] type 4 hex 00 00 00 00\n");
}

TEST_F(ScriptRun, RegisteringTwiceEqualsRegisteringOnce) {
    const std::string script = Script(
        "A = s 'a' { val V = s 'v' ForceRemove F = s 'f' { G } }\r\nNoRemove N { Val W = d 1 }");
    ASSERT_EQ(Run(script, true), S_OK);
    const std::string once = DumpRoot();
    ASSERT_EQ(Run(script, true), S_OK);
    EXPECT_EQ(DumpRoot(), once);
}

TEST_F(ScriptRun, ForceRemoveRebuildsTheKeyDeleteRemovesIt) {
    Seed(HKEY_CURRENT_USER, Key("F\\Old\\Deeper"), "x", "1");
    Seed(HKEY_CURRENT_USER, Key("F"), "stale", "1");
    Seed(HKEY_CURRENT_USER, Key("Gone\\Sub"), "x", "1");
    Seed(HKEY_CURRENT_USER, Key("Kept"), "x", "1");
    Seed(HKEY_CURRENT_USER, Key("Val"), "x", "1");
    ASSERT_EQ(Run(Script("ForceRemove F = s 'new' { New }\r\nDelete Gone = s 'ignored'\r\n"
                         "Delete Never\r\nForceRemove Val W = s w"),
                  true),
              S_OK);
    // "ForceRemove Val" sets a value: the key named "Val" stays.
    EXPECT_EQ(DumpRoot(),
              "[W] sz 'w'\n"
              "F\\\n"
              "F\\[] sz 'new'\n"
              "F\\New\\\n"
              "Kept\\\n"
              "Kept\\[x] sz '1'\n"
              "Val\\\n"
              "Val\\[x] sz '1'\n");
}

TEST_F(ScriptRun, ClsidAndTypelibTreesAreNeverForceRemoved) {
    Seed(HKEY_CURRENT_USER, Key("CLSID\\{other}"), "", "keep");
    Seed(HKEY_CURRENT_USER, Key("TypeLib\\{lib}"), "", "keep");
    const std::string before = DumpRoot();
    ASSERT_EQ(Run(Script("ForceRemove clsid { Mine } Delete TYPELIB"), true), S_OK);
    EXPECT_EQ(DumpRoot(),
              "CLSID\\\n"
              "CLSID\\Mine\\\n"
              "CLSID\\{other}\\\n"
              "CLSID\\{other}\\[] sz 'keep'\n"
              "TypeLib\\\n"
              "TypeLib\\{lib}\\\n"
              "TypeLib\\{lib}\\[] sz 'keep'\n");
    EXPECT_NE(before, DumpRoot());
}

TEST_F(ScriptRun, UnregisteringDeletesWhatTheScriptNamesAndSparesTheRest) {
    const std::string script = Script(
        "Leaf = s 'only default' { Inner }\r\n"
        "Shared { val Named = s 'x' Mine }\r\n"
        "Gone = s 'g' { val V = s 'v' Sub { Subsub } }\r\n"
        "Delete Del");
    ASSERT_EQ(Run(script, true), S_OK);
    Seed(HKEY_CURRENT_USER, Key("Leaf"), "", "only default");
    Remove(HKEY_CURRENT_USER, Key("Leaf\\Inner"));
    Seed(HKEY_CURRENT_USER, Key("Shared\\Foreign"), "f", "1");
    Seed(HKEY_CURRENT_USER, Key("Del"));
    ASSERT_EQ(Run(script, false), S_OK);
    // Leaf held only its default value: deleted at once, its block passed over. Shared keeps a
    // subkey the script does not name: it stays with that subkey, losing what the script names.
    EXPECT_EQ(DumpRoot(),
              "Shared\\\n"
              "Shared\\Foreign\\\n"
              "Shared\\Foreign\\[f] sz '1'\n");
}

TEST_F(ScriptRun, NoRemoveSparesItsKeyAndTheLaterKeysOfItsBlock) {
    const std::string script = Script(
        "Before\r\nNoRemove CLSID { Entry = s 'e' { Sub } }\r\nAfter\r\nForceRemove Last");
    ASSERT_EQ(Run(script, true), S_OK);
    ASSERT_EQ(Run(script, false), S_OK);
    EXPECT_EQ(DumpRoot(),
              "After\\\n"
              "CLSID\\\n"
              "Last\\\n");
}

TEST_F(ScriptRun, KeyNamesBeginningWithABraceAreNamesBothWays) {
    // Only a token that is exactly "{" opens a block: "{G2}" after an entry without a block is the
    // next key when registering and when unregistering alike.
    const std::string script = Script("NoRemove CLSID { {G1} {G2} = s x { {G3} } {G4} }");
    ASSERT_EQ(Run(script, true), S_OK);
    EXPECT_EQ(DumpRoot(),
              "CLSID\\\n"
              "CLSID\\{G1}\\\n"
              "CLSID\\{G2}\\\n"
              "CLSID\\{G2}\\[] sz 'x'\n"
              "CLSID\\{G2}\\{G3}\\\n"
              "CLSID\\{G4}\\\n");
    ASSERT_EQ(Run(script, false), S_OK);
    EXPECT_EQ(DumpRoot(), "CLSID\\\n");
}

TEST_F(ScriptRun, AValueNameTooLongToEnumerateIsANamedValue) {
    Seed(HKEY_CURRENT_USER, Key("K"), std::string(5000, 'v'), "x");
    HKEY key = nullptr;
    ASSERT_EQ(registry().RegOpenKeyExA(HKEY_CURRENT_USER, Key("K").c_str(), 0, KEY_READ, &key),
              ERROR_SUCCESS);
    EXPECT_TRUE(KeyHasNamedValues(registry(), key));
    registry().RegCloseKey(key);
}

TEST_F(ScriptRun, NamedValueIsDeletedEvenWhenItsKeyStays) {
    Seed(HKEY_CURRENT_USER, Key("Keep\\Child"), "c", "1");
    ASSERT_EQ(Run(Script("Keep { val Mine = s 'm' val 'Other' = d 2 }"), true), S_OK);
    ASSERT_EQ(Run(Script("Keep { val Mine = s 'm' }"), false), S_OK);
    EXPECT_EQ(DumpRoot(),
              "Keep\\\n"
              "Keep\\[Other] type 4 hex 02 00 00 00\n"
              "Keep\\Child\\\n"
              "Keep\\Child\\[c] sz '1'\n");
}

TEST_F(ScriptRun, MissingKeySkipsUpToTheFirstEntryWithABlock) {
    const std::string full = Script(
        "Present1 { P }\r\nMissing\r\nSkipped1 = s 'x'\r\nSkipped2 { Inner }\r\n"
        "Resumed\r\nOuter { Missing2 { Deep } Resumed2 }");
    ASSERT_EQ(Run(full, true), S_OK);
    Remove(HKEY_CURRENT_USER, Key("Missing"));
    Remove(HKEY_CURRENT_USER, Key("Outer\\Missing2"));
    Seed(HKEY_CURRENT_USER, Key("Skipped1"), "", "x");
    ASSERT_EQ(Run(full, false), S_OK);
    // Skipped1 and Skipped2 (with its block) are passed over after the missing key; Resumed is
    // unregistered again. A missing key with a block affects nothing but that block.
    EXPECT_EQ(DumpRoot(),
              "Skipped1\\\n"
              "Skipped1\\[] sz 'x'\n"
              "Skipped2\\\n"
              "Skipped2\\Inner\\\n");
}

TEST_F(ScriptRun, SkipModeAcrossNestedBlocks) {
    const std::string script = Script(
        "A { Missing { B { C } } Gone { X } }\r\nMissing2\r\nD { E }\r\nF");
    ASSERT_EQ(Run(Script("A { Gone { X } } D { E } F"), true), S_OK);
    Seed(HKEY_CURRENT_USER, Key("A\\Keep\\Child"));
    ASSERT_EQ(Run(script, false), S_OK);
    // Inside A the missing key's block is walked without touching anything, then Gone goes. At
    // the outer level Missing2 has no block, so D with its block is passed over too; F goes.
    EXPECT_EQ(DumpRoot(),
              "A\\\n"
              "A\\Keep\\\n"
              "A\\Keep\\Child\\\n"
              "D\\\n"
              "D\\E\\\n");

    // A block walked in skip mode stays in skip mode after a nested block of its own, even though
    // the key opened before it (A) is still at hand.
    Remove(HKEY_CURRENT_USER, Root());
    Seed(HKEY_CURRENT_USER, Key("A\\Keep"));
    Seed(HKEY_CURRENT_USER, Key("A\\Foreign"));
    ASSERT_EQ(Run(Script("A { }\r\nMissing { Missing2 { X } Keep }"), false), S_OK);
    EXPECT_EQ(DumpRoot(),
              "A\\\n"
              "A\\Foreign\\\n"
              "A\\Keep\\\n");
}

TEST_F(ScriptRun, RegisterThenUnregisterRestoresTheRegistry) {
    // Each script reads alike in both directions, so unregistering takes away what registering
    // added. The later cases came from the fuzzer.
    const char* const bodies[] = {
        ("Other = s 'o' { ForceRemove F { G } }\r\n"
         "NoRemove Existing { New = s 'n' { val A = b 00ff Deeper { val X = d 3 } } }"),
        // A keyword after "Delete" or "ForceRemove" is the keyword, not the name of a key.
        "T { Delete Val V = s x }",
        "T { ForceRemove Val V = s x K }",
    };
    for (const char* body : bodies) {
        Remove(HKEY_CURRENT_USER, Root());
        Seed(HKEY_CURRENT_USER, Key("Existing\\Sub"), "v", "1");
        const std::string before = DumpRoot();
        const std::string script = Script(body);
        ASSERT_EQ(Run(script, true), S_OK) << body;
        ASSERT_NE(DumpRoot(), before) << body;
        ASSERT_EQ(Run(script, false), S_OK) << body;
        EXPECT_EQ(DumpRoot(), before) << body;
    }
}

TEST_F(ScriptRun, FailureRollsBackOnlyTheFailingRootEntry) {
    const std::string script =
        "HKCU { " + Root() + " { First = s '1' } }\r\n"
        "HKCU { " + Root() + " { NoRemove Second { Made = s '2' { Deep } Bad = b abc } } }\r\n"
        "HKCU { " + Root() + " { Third } }";
    EXPECT_EQ(Run(script, true), E_FAIL);
    EXPECT_EQ(DumpRoot(),
              "First\\\n"
              "First\\[] sz '1'\n"
              "Second\\\n");
}

TEST_F(ScriptRun, MalformedEntriesFailAndRollBack) {
    const std::string longest_value_name(259, 'v');
    ASSERT_EQ(Run(Script("val " + longest_value_name + " = s ok"), true), S_OK);
    const std::string after_good = DumpRoot();
    Remove(HKEY_CURRENT_USER, Root());
    // What stays is what the roll-back pass could not reach: it stops at its own first failure,
    // which for a malformed name is the same name again.
    const struct {
        const char* body;
        HRESULT expected;
        const char* after;
    } cases[] = {
        {"Made { 'a\\b' }", DISP_E_EXCEPTION, ""},
        {"Made { ForceRemove 'x\\y' }", DISP_E_EXCEPTION, ""},
        {"Made { Delete '' }", DISP_E_EXCEPTION, ""},
        {"Made { '' = s x }", DISP_E_EXCEPTION, ""},
        {"Made { val V s x }", DISP_E_EXCEPTION, ""},
        {"Made { val V = q x }", DISP_E_EXCEPTION, "<missing>\n"},
        {"Made { val V = b 123 }", E_FAIL, "<missing>\n"},
        {"Made { Unclosed ", DISP_E_EXCEPTION, "<missing>\n"},
        {"Made { V = s 'unterminated }", DISP_E_EXCEPTION, "Made\\\n"},
        {"Made { Val = = s x }", S_OK, "Made\\\nMade\\[=] sz 'x'\n"},
        // A block after a value or a deletion does not belong to the key opened before (K); the
        // roll-back stops at the same "{", except that unregistering reads "Delete D" as a key.
        {"Made { K val V = s x { B } }", DISP_E_EXCEPTION, "Made\\\n"},
        {"Made { K Delete D = s x { B } }", DISP_E_EXCEPTION, "<missing>\n"},
        // An assignment after a block has no key (found by the fuzzer: unregistering read it as
        // an assignment to pass over, registering as a key named "=").
        {"Made { K { } = s x }", DISP_E_EXCEPTION, "Made\\\n"},
        // A prefix never takes the block's "}" for the name of a key (found by the fuzzer).
        {"Made { ForceRemove } }", DISP_E_EXCEPTION, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(Script(c.body), true), c.expected) << c.body;
        EXPECT_EQ(DumpRoot(), c.after) << c.body;
        Remove(HKEY_CURRENT_USER, Root());
    }
    EXPECT_EQ(Run(Script("val " + std::string(260, 'v') + " = s x"), true), DISP_E_EXCEPTION);
    EXPECT_NE(after_good, "<missing>\n");
}

TEST_F(ScriptRun, KeyThatCannotBeCreatedFailsTheEntry) {
    EXPECT_EQ(Run(Script("Made { " + std::string(300, 'k') + " }"), true), DISP_E_EXCEPTION);
    EXPECT_EQ(DumpRoot(), "<missing>\n");
}

TEST_F(ScriptRun, EmptyKeyNameNeverReachesTheEnclosingKey) {
    Seed(HKEY_CURRENT_USER, Key("Keep\\Child"), "c", "1");
    const std::string before = DumpRoot();
    // The platform takes an empty name as the enclosing key itself: deleting "its" tree would
    // wipe the enclosing key.
    EXPECT_EQ(Run(Script("NoRemove Keep { ForceRemove '' }"), true), DISP_E_EXCEPTION);
    EXPECT_EQ(Run(Script("NoRemove Keep { '' }"), false), DISP_E_EXCEPTION);
    EXPECT_EQ(DumpRoot(), before);
}

TEST_F(ScriptRun, UnregisteringPassesOverUnknownTypesAndDeleteEntries) {
    Seed(HKEY_CURRENT_USER, Key("D\\Sub"));
    ASSERT_EQ(Run(Script("A = s a"), true), S_OK);
    EXPECT_EQ(Run(Script("A = q whatever\r\nDelete D { Sub }"), false), S_OK);
    EXPECT_EQ(DumpRoot(), "<missing>\n");
}

TEST_F(ScriptRun, QuotingDoesNotMakeBracesOrKeywordsLiteral) {
    ASSERT_EQ(Run("'HKCU' '{' " + Root() + " '{' 'VAL' v = s x 'NoRemove' K '}' '}'", true),
              S_OK);
    EXPECT_EQ(DumpRoot(),
              "[v] sz 'x'\n"
              "K\\\n");
}

TEST_F(ScriptRun, RootEntryForms) {
    EXPECT_EQ(Run("", true), S_OK);
    EXPECT_EQ(Run("", false), S_OK);
    EXPECT_EQ(Run(" \r\n\t", true), DISP_E_EXCEPTION);
    EXPECT_EQ(Run("HKCU{ " + Root() + " }", true), DISP_E_EXCEPTION);
    EXPECT_EQ(Run("HKXX { " + Root() + " }", true), DISP_E_EXCEPTION);
    EXPECT_EQ(Run("HKCU " + Root(), true), DISP_E_EXCEPTION);
    EXPECT_EQ(DumpRoot(), "<missing>\n");
    ASSERT_EQ(Run("hkey_current_user {x " + Root() + " } HKCU { } \r\n", true), S_OK);
    EXPECT_EQ(DumpRoot(), "");
}

TEST_F(ScriptRun, DeepNestingFailsInsteadOfExhaustingTheStack) {
    std::string deep = "HKCU { " + Root() + " { ";
    for (int i = 0; i < 20000; ++i) {
        deep += "k { ";
    }
    EXPECT_EQ(Run(deep, false), DISP_E_EXCEPTION);
    std::string within = "HKCU { " + Root() + " { Missing { ";
    for (int i = 0; i < 400; ++i) {
        within += "k { ";
    }
    for (int i = 0; i < 403; ++i) {
        within += "} ";
    }
    EXPECT_EQ(Run(within, false), S_OK);
}

TEST_F(ScriptRun, OutOfMemoryChangesNothingAndLeaksNothing) {
    Seed(HKEY_CURRENT_USER, Key("Existing"), "v", "1");
    const std::string before = DumpRoot();
    const std::string script = Script("New = s '%v%%v%'");
    const WideString value = Wide(std::string(200, 'v'));
    for (long n = 0;; ++n) {
        memory().FailAt(-1);
        {
            const ScriptEnvironment env = environment();
            ReplacementMap map(memory(), text());
            ASSERT_EQ(map.Add(Wide("v").c_str(), value.c_str()), S_OK);
            ScriptReader reader(map, env);
            memory().FailAt(n, true);
            const HRESULT hr = RunScriptText(reader, script.c_str(), true);
            if (!memory().injected()) {
                EXPECT_EQ(hr, S_OK);
                EXPECT_GT(n, 1) << "the run allocates and grows its text";
                break;
            }
            EXPECT_EQ(hr, E_OUTOFMEMORY);
            EXPECT_EQ(DumpRoot(), before);
        }
        EXPECT_EQ(memory().live(), 0u) << "allocation " << n;
    }
    memory().FailAt(-1);
}

// The component's own script, as the module carries it.
constexpr const char* kComponentScript =
    "HKCR\r\n{\r\n"
    "\tVRLCOM.Vorel.1 = s 'Vorel Class'\r\n\t{\r\n"
    "\t\tCLSID = s '{2A6D3C1E-5B7F-4C88-9E21-0F4B6D8A7C13}'\r\n\t}\r\n"
    "\tVRLCOM.Vorel = s 'Vorel Class'\r\n\t{\r\n"
    "\t\tCLSID = s '{2A6D3C1E-5B7F-4C88-9E21-0F4B6D8A7C13}'\r\n"
    "\t\tCurVer = s 'VRLCOM.Vorel.1'\r\n\t}\r\n"
    "\tNoRemove CLSID\r\n\t{\r\n"
    "\t\tForceRemove {2A6D3C1E-5B7F-4C88-9E21-0F4B6D8A7C13} = s 'Vorel Class'\r\n\t\t{\r\n"
    "\t\t\tProgID = s 'VRLCOM.Vorel.1'\r\n"
    "\t\t\tVersionIndependentProgID = s 'VRLCOM.Vorel'\r\n"
    "\t\t\tForceRemove 'Programmable'\r\n"
    "\t\t\tInprocServer32 = s '%MODULE%'\r\n\t\t\t{\r\n"
    "\t\t\t\tval ThreadingModel = s 'Apartment'\r\n\t\t\t}\r\n"
    "\t\t\t'TypeLib' = s '{7E0B2F44-3C19-4D5A-8B6E-A1C2D3E4F506}'\r\n"
    "\t\t}\r\n\t}\r\n}\r\n";

constexpr const char* kClassKey = "CLSID\\{2A6D3C1E-5B7F-4C88-9E21-0F4B6D8A7C13}";

TEST_F(ScriptRun, ComponentScriptRegistersRebuildsAndUnregisters) {
    CleanUpClassKeys(
        {"VRLCOM.Vorel.1", "VRLCOM.Vorel", kClassKey, "CLSID\\{VrlcomTest-Neighbour}"});
    Seed(HKEY_CLASSES_ROOT, "CLSID\\{VrlcomTest-Neighbour}", "", "stays");
    const std::string clsid_before = Dump(HKEY_CLASSES_ROOT, "CLSID\\{VrlcomTest-Neighbour}");
    const std::initializer_list<std::pair<std::string, std::string>> module = {
        {"Module", "C:\\PROGRA~1\\it''s\\VRLCOM.DLL"}};

    ASSERT_EQ(Run(kComponentScript, true, module), S_OK);
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, "VRLCOM.Vorel.1"),
              "[] sz 'Vorel Class'\n"
              "CLSID\\\n"
              "CLSID\\[] sz '{2A6D3C1E-5B7F-4C88-9E21-0F4B6D8A7C13}'\n");
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, "VRLCOM.Vorel"),
              "[] sz 'Vorel Class'\n"
              "CLSID\\\n"
              "CLSID\\[] sz '{2A6D3C1E-5B7F-4C88-9E21-0F4B6D8A7C13}'\n"
              "CurVer\\\n"
              "CurVer\\[] sz 'VRLCOM.Vorel.1'\n");
    const std::string class_key =
        "[] sz 'Vorel Class'\n"
        "InprocServer32\\\n"
        "InprocServer32\\[] sz 'C:\\PROGRA~1\\it's\\VRLCOM.DLL'\n"
        "InprocServer32\\[ThreadingModel] sz 'Apartment'\n"
        "ProgID\\\n"
        "ProgID\\[] sz 'VRLCOM.Vorel.1'\n"
        "Programmable\\\n"
        "TypeLib\\\n"
        "TypeLib\\[] sz '{7E0B2F44-3C19-4D5A-8B6E-A1C2D3E4F506}'\n"
        "VersionIndependentProgID\\\n"
        "VersionIndependentProgID\\[] sz 'VRLCOM.Vorel'\n";
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, kClassKey), class_key);

    Seed(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Stale\\Deeper", "x", "1");
    Seed(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Programmable\\Stale");
    ASSERT_EQ(Run(kComponentScript, true, module), S_OK);
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, kClassKey), class_key);

    ASSERT_EQ(Run(kComponentScript, false, module), S_OK);
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, "VRLCOM.Vorel.1"), "<missing>\n");
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, "VRLCOM.Vorel"), "<missing>\n");
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, kClassKey), "<missing>\n");
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, "CLSID\\{VrlcomTest-Neighbour}"), clsid_before);

    // Unregistering what is not registered succeeds and changes nothing.
    EXPECT_EQ(Run(kComponentScript, false, module), S_OK);
}

#ifdef VRL_MODULE_SCRIPT
// The script the module carries, read from its source: it registers and unregisters cleanly.
TEST_F(ScriptRun, ModuleScriptRoundTrips) {
    std::ifstream file(VRL_MODULE_SCRIPT, std::ios::binary);
    ASSERT_TRUE(file) << VRL_MODULE_SCRIPT;
    const std::string script((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(Run(script, true, {{"Module", "C:\\VRLCOM.DLL"}}), S_OK);
    const std::string classes = Dump(HKEY_CLASSES_ROOT, "CLSID");
    EXPECT_NE(classes.find("InprocServer32\\[] sz 'C:\\VRLCOM.DLL'"), std::string::npos) << classes;
    EXPECT_NE(classes.find("[ThreadingModel] sz 'Apartment'"), std::string::npos) << classes;
    EXPECT_NE(Dump(HKEY_CLASSES_ROOT, "VRLCOM.Vorel\\CurVer"), "<missing>\n");
    ASSERT_EQ(Run(script, false, {{"Module", "C:\\VRLCOM.DLL"}}), S_OK);
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, "CLSID"), "");
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, "VRLCOM.Vorel"), "<missing>\n");
    EXPECT_EQ(Dump(HKEY_CLASSES_ROOT, "VRLCOM.Vorel.1"), "<missing>\n");
}
#endif

// The in-memory registry and the code page model against the platform: the same cases, with the
// results measured under Wine, run against the registry of the test (in memory natively, the real
// one on Windows) and, on Windows, against the in-memory registry over the platform's code page.
struct NameCase {
    const char* created;
    const char* opened;    // found as the created key (0) or not (ERROR_FILE_NOT_FOUND)
    LONG open_result;
    const char* listed;    // the name that enumeration gives back
};

std::string NameCaseFailures(RegistryApi& registry, const std::string& root,
                             std::initializer_list<NameCase> cases) {
    std::string failures;
    for (const NameCase& c : cases) {
        HKEY parent = nullptr;
        HKEY key = nullptr;
        if (registry.RegCreateKeyExA(HKEY_CURRENT_USER, root.c_str(), 0, nullptr, 0,
                                     KEY_ALL_ACCESS, nullptr, &parent, nullptr) != ERROR_SUCCESS ||
            registry.RegCreateKeyExA(parent, c.created, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                     &key, nullptr) != ERROR_SUCCESS) {
            failures += std::string("cannot create ") + c.created + "\n";
            continue;
        }
        registry.RegCloseKey(key);
        key = nullptr;
        const LONG opened = registry.RegOpenKeyExA(parent, c.opened, 0, KEY_READ, &key);
        if (opened == ERROR_SUCCESS) {
            registry.RegCloseKey(key);
        }
        char listed[kKeyNameBufferSize] = "";
        DWORD size = kKeyNameBufferSize;
        registry.RegEnumKeyExA(parent, 0, listed, &size, nullptr, nullptr, nullptr, nullptr);
        registry.RegCloseKey(parent);
        DeleteKeyTree(registry, HKEY_CURRENT_USER, root.c_str());
        if (opened != c.open_result || std::string(listed) != c.listed) {
            failures += std::string(c.created) + " / " + c.opened + ": open " +
                        std::to_string(opened) + ", listed as " + listed + "\n";
        }
    }
    return failures;
}

void ExpectNames(RegistryApi& registry, [[maybe_unused]] const CodePageText& text,
                 const std::string& root, std::initializer_list<NameCase> cases) {
    EXPECT_EQ(NameCaseFailures(registry, root, cases), "");
#ifdef _WIN32
    MemoryRegistry model(text);
    EXPECT_EQ(NameCaseFailures(model, root, cases), "") << "in memory";
#endif
}

class RegistryModel : public ScriptRun {
protected:
    void ExpectEqualNoCase(const char* left, const char* right, bool equal) {
        EXPECT_EQ(text().CompareNoCase(left, right) == 0, equal) << left << " / " << right;
    }
};

TEST_F(RegistryModel, NamesFoldLetterCaseBeyondAscii) {
    ExpectNames(registry(), text(), Root(), {
        {"\xC9", "\xE9", ERROR_SUCCESS, "\xC9"},    // E acute
        {"\x8A", "\x9A", ERROR_SUCCESS, "\x8A"},    // S caron, from 1252's own range
        {"\xFF", "\x9F", ERROR_SUCCESS, "\xFF"},    // y diaeresis
        {"x\xC0", "X\xE0", ERROR_SUCCESS, "x\xC0"},
        {"\xD7", "\xF7", ERROR_FILE_NOT_FOUND, "\xD7"},  // multiplication and division signs
        {"\xDF", "SS", ERROR_FILE_NOT_FOUND, "\xDF"},
    });
    ExpectEqualNoCase("clsid", "CLSID", true);
    ExpectEqualNoCase("\xC9t\xE9", "\xE9T\xC9", true);
    ExpectEqualNoCase("\xFF", "\x9F", true);
    ExpectEqualNoCase("\xD7", "\xF7", false);
}

TEST_F(RegistryModel, NumbersReadAsTheVariantConversionReadsThem) {
    const struct {
        const char* text;
        bool read;
        std::uint32_t value;
    } cases[] = {
        {"12", true, 12},         {" 12 ", true, 12},       {"\t7", true, 7},
        {"12\n", true, 12},       {"+12", true, 12},        {"010", true, 10},
        {"-0", true, 0},          {"-0.4", true, 0},        {"-1", false, 0},
        {"(5)", false, 0},        {"1,000", true, 1000},    {"1,2", true, 12},
        {"1,,2", true, 12},       {",1", false, 0},         {"1.5", true, 2},
        {"2.5", true, 2},         {"3.5", true, 4},         {"0.5", true, 0},
        {"1.", true, 1},          {"1e3", true, 1000},      {"1E2", true, 100},
        {"1e", false, 0},         {"&H10", true, 16},       {"&hff", true, 255},
        {"&O17", true, 15},       {"&HFFFFFFFF", true, 0xFFFFFFFFu},
        {"&H", false, 0},         {"&B101", false, 0},      {"0x10", false, 0},
        {"$5", true, 5},          {"4294967295", true, 0xFFFFFFFFu},
        {"4294967296", false, 0}, {"4294967295.4", true, 0xFFFFFFFFu},
        {"4294967295.5", false, 0}, {"1000000000000", false, 0},
        {"12abc", false, 0},      {"1 2", false, 0},        {"", false, 0},
        {"  ", false, 0},
    };
    for (const auto& c : cases) {
        WideChar wide[64] = {};
        ASSERT_GT(text().ToWide(c.text, -1, wide, 64), 0);
        std::uint32_t value = 0;
        const bool read = text().ParseUInt32(wide, &value);
        EXPECT_EQ(read, c.read) << "'" << c.text << "'";
        if (read && c.read) {
            EXPECT_EQ(value, c.value) << "'" << c.text << "'";
        }
    }
}

// Key names of double-byte characters whose trail bytes are a quote, a backslash and a percent
// sign: each character is one unit of the name.
class DoubleByteRun : public ScriptRun {
protected:
    void SetUp() override {
        UseCodePage(950);
        // Without code page 950 these cases would test nothing: they fail instead.
        ASSERT_TRUE(DoubleByteCodePageActive(text())) << "needs code page 950 (LC_ALL=zh_TW.Big5)";
        ScriptRun::SetUp();
    }
};

// The longest key name, 255 double-byte characters: unregistering and deleting a tree use the
// name whole, never a prefix of it, nor a sibling that the prefix names.
TEST_F(DoubleByteRun, LongestKeyNamesAreUsedWhole) {
    std::string longest;
    for (int i = 0; i < 255; ++i) {
        longest += "\xA4\x40";
    }
    const std::string prefix = longest.substr(0, 258);
    Seed(HKEY_CURRENT_USER, Key(prefix), "v", "sibling");
    const std::string sibling = DumpRoot();
    const std::string script = Script("'" + longest + "' = s x");
    ASSERT_EQ(Run(script, true), S_OK);
    ASSERT_NE(DumpRoot(), sibling);
    ASSERT_EQ(Run(script, false), S_OK);
    EXPECT_EQ(DumpRoot(), sibling);

    // Written key by key: the whole path would be longer than a path the platform takes.
    Remove(HKEY_CURRENT_USER, Root());
    ASSERT_EQ(Run(Script("T { '" + longest + "' { Deeper } '" + prefix + "' = s stale }"), true),
              S_OK);
    ASSERT_EQ(Run(Script("ForceRemove T { New }"), true), S_OK);
    EXPECT_EQ(DumpRoot(), "T\\\nT\\New\\\n");
}

TEST_F(DoubleByteRun, TrailBytesInKeyNamesAreNoSyntax) {
    // Were a trail byte taken for syntax, the quote would end the name, the backslash would be
    // refused and the percent sign would start an undefined variable.
    const std::string script = Script(
        "'\xA4\x27q' = s 'quote'\r\n"
        "\xB3\x5C = s 'backslash' { val '\xB3\x5Cv' = s '\xA4\x40%%' }\r\n"
        "p\xA4\x25 = s 'percent'");
    ASSERT_EQ(Run(script, true), S_OK);
    const std::string registered = DumpRoot();
    EXPECT_NE(registered.find("[] sz 'backslash'"), std::string::npos) << registered;
    EXPECT_NE(registered.find("[] sz 'quote'"), std::string::npos) << registered;
    EXPECT_NE(registered.find("[] sz 'percent'"), std::string::npos) << registered;
    EXPECT_NE(registered.find("v] sz '\xA4\x40%'"), std::string::npos) << registered;
    ASSERT_EQ(Run(script, false), S_OK);
    EXPECT_EQ(DumpRoot(), "<missing>\n");
}

class DoubleByteRegistryModel : public DoubleByteRun {};

TEST_F(DoubleByteRegistryModel, NamesAreWholeCharacters) {
    ExpectNames(registry(), text(), Root(), {
        // A trail byte is never folded on its own: these are two different characters.
        {"\xA4\x41", "\xA4\x61", ERROR_FILE_NOT_FOUND, "\xA4\x41"},
        // Fullwidth letters fold like any other.
        {"\xA2\xCF", "\xA2\xE9", ERROR_SUCCESS, "\xA2\xCF"},
        // Invalid pairs all convert to "?": one name.
        {"\xA4\x30", "\xA4\x31", ERROR_SUCCESS, "?"},
        {"x\xA4\x7F", "X?", ERROR_SUCCESS, "x?"},
        {"\xB3\x5C", "\xB3\x5C", ERROR_SUCCESS, "\xB3\x5C"},
    });
    EXPECT_NE(text().CompareNoCase("\xA4\x41", "\xA4\x61"), 0);
    EXPECT_EQ(text().CompareNoCase("A\xA4\x41", "a\xA4\x41"), 0);
    EXPECT_EQ(text().CompareNoCase("\xA2\xCF", "\xA2\xE9"), 0);
    EXPECT_EQ(text().CompareNoCase("\xA4\x30", "\xA4\x31"), 0);
}

}  // namespace
}  // namespace vrl::regscript::test
