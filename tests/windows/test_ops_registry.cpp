// The registry, INI file and environment instructions, in-process on scripts
// assembled from text: every value kind written and read back through the
// platform, enumeration to its end, deletion of values, keys and trees (and
// never of a whole root key), INI entries and sections, environment variables
// and %NAME% texts. Keys live under HKCU\Software\Quillmar tests\<process>.
#include "files_fixture.h"

#include "engine/ops_registry.h"

namespace {

using files_test::FileScript;

class Registry : public FileScript {
protected:
    void SetUp() override {
        FileScript::SetUp();
        key_ = "Software\\Quillmar tests\\" + std::to_string(GetCurrentProcessId());
        delete_tree(key_);
    }
    void TearDown() override {
        delete_tree(key_);
        FileScript::TearDown();
    }
    static void delete_tree(const std::string& path) { RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str()); }

    // The value as the platform stores it: type and bytes; type 0 when missing.
    std::pair<DWORD, std::string> stored(const std::string& subkey, const std::string& name) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, (key_ + subkey).c_str(), 0, KEY_READ, &key)) return {0, ""};
        char data[2048];
        DWORD type = 0, size = sizeof(data);
        const LONG r = RegQueryValueExA(key, name.c_str(), nullptr, &type, (BYTE*)data, &size);
        RegCloseKey(key);
        if (r) return {0, ""};
        return {type, std::string(data, size)};
    }
    bool key_exists(const std::string& subkey) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, (key_ + subkey).c_str(), 0, KEY_READ, &key)) return false;
        RegCloseKey(key);
        return true;
    }
    // Runs a label and returns what it added to the error count.
    int32_t errors_of(const std::string& label) {
        const int32_t before = error_count;
        EXPECT_EQ(run(label), 0);
        return error_count - before;
    }

    std::string key_;
};

TEST_F(Registry, EveryValueKindWrittenAndReadBack) {
    payload("blob", std::string("\x01\x00\xFF" "binary", 9));
    lstrcpyA(var_slots[9], key_.c_str());
    ASSERT_NO_FATAL_FAILURE(assemble(
        "w_expand: write_registry HKCU, \"{var9}\", \"expand\", \"%WINDIR%\\x\", expand_string\n end\n"
        "w_string: write_registry HKCU, \"{var9}\", \"string\", \"plain {var8}\", string\n end\n"
        "w_dword:  write_registry HKCU, \"{var9}\", \"dword\", -1, dword\n end\n"
        "w_binary: write_registry HKCU, \"{var9}\", \"binary\", \"blob\", binary\n end\n"
        "w_default: write_registry HKCU, \"{var9}\\sub\", \"\", \"the default\", string\n end\n"
        "w_kind:   write_registry HKCU, \"{var9}\", \"kind\", \"x\", 4\n end\n"
        "r_string: read_registry $var0, HKCU, \"{var9}\", \"{var1}\", string\n end\n"
        "r_number: read_registry $var0, HKCU, \"{var9}\", \"{var1}\", number\n end\n"
        "r_nokey:  read_registry $var0, HKCU, \"{var9}\\missing\", \"string\"\n end\n"));
    lstrcpyA(var_slots[8], "text");
    for (const char* label : {"w_expand", "w_string", "w_dword", "w_binary", "w_default"})
        EXPECT_EQ(errors_of(label), 0) << label;
    EXPECT_EQ(errors_of("w_kind"), 1) << "an unknown kind writes nothing";
    EXPECT_EQ(stored("", "kind").first, 0u);

    EXPECT_EQ(stored("", "expand"), std::make_pair((DWORD)REG_EXPAND_SZ, std::string("%WINDIR%\\x", 11)));
    EXPECT_EQ(stored("", "string"), std::make_pair((DWORD)REG_SZ, std::string("plain text", 11)));
    EXPECT_EQ(stored("", "dword"), std::make_pair((DWORD)REG_DWORD, std::string("\xFF\xFF\xFF\xFF", 4)));
    EXPECT_EQ(stored("", "binary"), std::make_pair((DWORD)REG_BINARY, std::string("\x01\x00\xFF" "binary", 9)));
    EXPECT_EQ(stored("\\sub", ""), std::make_pair((DWORD)REG_SZ, std::string("the default", 12)));

    // What a read delivers, and whether it counts as an error, by what is
    // stored and what the script expects.
    struct Case {
        const char* value;
        const char* label;
        const char* text;
        int32_t errors;
    } cases[] = {
        {"string", "r_string", "plain text", 0},
        {"string", "r_number", "plain text", 1},   // a text where a number was expected
        {"expand", "r_string", "%WINDIR%\\x", 0},  // kept as stored, not expanded
        {"dword", "r_number", "-1", 0},
        {"dword", "r_string", "-1", 1},            // a number where a text was expected
        {"binary", "r_string", "", 1},
        {"missing", "r_string", "", 1},
        {"string", "r_nokey", "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.value) + " " + c.label);
        lstrcpyA(var_slots[0], "old");
        lstrcpyA(var_slots[1], c.value);
        EXPECT_EQ(errors_of(c.label), c.errors);
        EXPECT_STREQ(var_slots[0], c.text);
    }
}

TEST_F(Registry, EnumerationEndsWithTheEmptyText) {
    lstrcpyA(var_slots[9], key_.c_str());
    ASSERT_NO_FATAL_FAILURE(assemble(
        "setup:  write_registry HKCU, \"{var9}\\A\", \"v1\", \"1\", string\n"
        "        write_registry HKCU, \"{var9}\\B\\C\", \"\", \"x\", string\n"
        "        write_registry HKCU, \"{var9}\", \"first\", 1, dword\n"
        "        write_registry HKCU, \"{var9}\", \"second\", 2, dword\n end\n"
        "keys:   enum_registry $var0, HKCU, \"{var9}\", $var1, keys\n end\n"
        "values: enum_registry $var0, HKCU, \"{var9}\", $var1, values\n end\n"
        "nokey:  enum_registry $var0, HKCU, \"{var9}\\none\", 0, keys\n end\n"));
    EXPECT_EQ(errors_of("setup"), 0);
    struct Case {
        const char* label;
        const char* index;
        const char* name;
        int32_t errors;
    } cases[] = {
        {"keys", "0", "A", 0},   {"keys", "1", "B", 0},       {"keys", "2", "", 0},  {"keys", "-1", "", 0},
        {"values", "0", "first", 0}, {"values", "1", "second", 0}, {"values", "2", "", 0},
        {"nokey", "0", "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.label) + " " + c.index);
        lstrcpyA(var_slots[0], "old");
        lstrcpyA(var_slots[1], c.index);
        EXPECT_EQ(errors_of(c.label), c.errors);
        EXPECT_STREQ(var_slots[0], c.name);
    }
}

TEST_F(Registry, DeletesValuesKeysAndTreesButNeverARootKey) {
    lstrcpyA(var_slots[9], key_.c_str());
    ASSERT_NO_FATAL_FAILURE(assemble(
        "setup:  write_registry HKCU, \"{var9}\\Tree\\Deep\\Deeper\", \"v\", \"1\", string\n"
        "        write_registry HKCU, \"{var9}\\Tree\", \"v\", \"1\", string\n"
        "        write_registry HKCU, \"{var9}\\Leaf\", \"v\", \"1\", string\n end\n"
        "value:  delete_registry HKCU, \"{var9}\\{var1}\", \"v\"\n end\n"
        "empty:  delete_registry HKCU, \"{var9}\\{var1}\", none, true\n end\n"
        "tree:   delete_registry HKCU, \"{var9}\\{var1}\", none\n end\n"
        "root:   delete_registry HKCU, \"{var1}\", none\n end\n"));
    EXPECT_EQ(errors_of("setup"), 0);
    // First below the test's own key: an empty path is the key itself and
    // is refused (checked here before a root key is ever at stake).
    HKEY own;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_ALL_ACCESS, &own), ERROR_SUCCESS);
    const int refused = delete_registry_key(own, "", 0);
    RegCloseKey(own);
    ASSERT_EQ(refused, 1);
    ASSERT_TRUE(key_exists("\\Tree"));
    struct Case {
        const char* label;
        const char* subkey;
        int32_t errors;
        const char* gone;  // the key that no longer exists afterwards, or null
        const char* kept;  // a key that still exists afterwards
    } cases[] = {
        {"value", "Leaf", 0, nullptr, "\\Leaf"},
        {"value", "Leaf", 1, nullptr, "\\Leaf"},                 // the value is gone already
        {"empty", "Tree", 1, nullptr, "\\Tree\\Deep\\Deeper"},   // has subkeys: kept
        {"empty", "Leaf", 0, "\\Leaf", "\\Tree"},
        {"tree", "Tree", 0, "\\Tree", ""},                       // the whole tree, depth first
        {"tree", "Tree", 1, "\\Tree", ""},                       // nothing left to delete
        {"root", "", 1, nullptr, ""},                            // an empty path deletes nothing
        {"root", "\\\\", 1, nullptr, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.label) + " " + c.subkey);
        lstrcpyA(var_slots[1], c.subkey);
        EXPECT_EQ(errors_of(c.label), c.errors);
        if (c.gone) {
            EXPECT_FALSE(key_exists(c.gone));
        }
        EXPECT_TRUE(key_exists(c.kept));
    }
    EXPECT_EQ(stored("\\Leaf", "v").first, 0u) << "deleted once, then missing";

}

TEST_F(Registry, IniEntriesAndSections) {
    lstrcpyA(var_slots[9], path("settings.ini").c_str());
    ASSERT_NO_FATAL_FAILURE(assemble(
        "write:   write_ini \"{var1}\", \"{var2}\", \"{var3}\", \"{var9}\"\n end\n"
        "no_value: write_ini \"{var1}\", \"{var2}\", none, \"{var9}\"\n end\n"
        "no_entry: write_ini \"{var1}\", none, none, \"{var9}\"\n end\n"
        "read:    read_ini $var0, \"{var1}\", \"{var2}\", \"{var9}\"\n end\n"));
    auto write = [&](const char* section, const char* entry, const char* value) {
        lstrcpyA(var_slots[1], section);
        lstrcpyA(var_slots[2], entry);
        lstrcpyA(var_slots[3], value);
        return errors_of("write");
    };
    auto read = [&](const char* section, const char* entry, int32_t errors) {
        lstrcpyA(var_slots[0], "old");
        lstrcpyA(var_slots[1], section);
        lstrcpyA(var_slots[2], entry);
        EXPECT_EQ(errors_of("read"), errors) << section << "/" << entry;
        return std::string(var_slots[0]);
    };
    EXPECT_EQ(write("App", "Path", "C:\\App"), 0);
    EXPECT_EQ(write("App", "Empty", ""), 0);
    EXPECT_EQ(write("App", "Marker", "!N~"), 0);
    EXPECT_EQ(write("Other", "Kept", "yes"), 0);
    EXPECT_EQ(read("App", "Path", 0), "C:\\App");
    EXPECT_EQ(read("App", "Empty", 0), "") << "an empty entry is not a missing one";
    EXPECT_EQ(read("App", "Marker", 1), "") << "the missing-entry text itself reads as missing";
    EXPECT_EQ(read("App", "None", 1), "");

    lstrcpyA(var_slots[1], "App");
    lstrcpyA(var_slots[2], "Path");
    EXPECT_EQ(errors_of("no_value"), 0);
    EXPECT_EQ(read("App", "Path", 1), "") << "a value of none deletes the entry";
    EXPECT_EQ(read("App", "Empty", 0), "");
    lstrcpyA(var_slots[1], "App");
    EXPECT_EQ(errors_of("no_entry"), 0);
    EXPECT_EQ(read("App", "Empty", 1), "") << "an entry of none deletes the section";
    EXPECT_EQ(read("Other", "Kept", 0), "yes");
}

TEST_F(Registry, EnvironmentVariablesAndTexts) {
    ASSERT_NO_FATAL_FAILURE(assemble(
        "variable: read_environment $var0, \"{var1}\", variable\n end\n"
        "text:     read_environment $var0, \"{var1}\", expand\n end\n"));
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof(windows));
    SetEnvironmentVariableA("QM_TEST_SHORT", "abc");
    SetEnvironmentVariableA("QM_TEST_FULL", std::string(1023, 'f').c_str());
    SetEnvironmentVariableA("QM_TEST_LONG", std::string(1024, 'l').c_str());
    struct Case {
        const char* label;
        std::string text;
        std::string result;
        int32_t errors;
    } cases[] = {
        {"variable", "QM_TEST_SHORT", "abc", 0},
        {"variable", "QM_TEST_MISSING", "", 1},
        {"variable", "QM_TEST_FULL", std::string(1023, 'f'), 0},
        {"variable", "QM_TEST_LONG", "", 1},  // does not fit: refused, not cut
        {"text", "%WINDIR%\\x", std::string(windows) + "\\x", 0},
        {"text", "%QM_TEST_MISSING%\\x", "%QM_TEST_MISSING%\\x", 0},
        {"text", "<%QM_TEST_SHORT%%QM_TEST_SHORT%>", "<abcabc>", 0},
        {"text", "%QM_TEST_FULL%x", "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        lstrcpyA(var_slots[0], "old");
        lstrcpyA(var_slots[1], c.text.c_str());
        EXPECT_EQ(errors_of(c.label), c.errors);
        EXPECT_EQ(std::string(var_slots[0]), c.result);
    }
    SetEnvironmentVariableA("QM_TEST_SHORT", nullptr);
    SetEnvironmentVariableA("QM_TEST_FULL", nullptr);
    SetEnvironmentVariableA("QM_TEST_LONG", nullptr);
}

}  // namespace
