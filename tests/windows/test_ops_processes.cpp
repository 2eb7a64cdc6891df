// Starting programs from the script: execute with and without waiting, the
// exit code into a variable or into the error count, OutputDir as the
// working directory, and the shell's open verb; each says on the details
// line what it starts.
#include "files_fixture.h"

namespace {

using files_test::FileScript;
using Lines = std::vector<std::string>;

using win_test::child_program;

class Processes : public FileScript {
protected:
    void SetUp() override {
        FileScript::SetUp();
        lstrcpyA(var_slots[9], child_program().c_str());
    }
    // Waits up to 20 s for a file the child writes.
    bool appears(const std::string& file) {
        for (int i = 0; i < 200 && !files_test::exists(file); ++i) Sleep(100);
        Sleep(100);
        return files_test::exists(file);
    }
};

TEST_F(Processes, ExecuteWaitsForTheExitCodeOrCountsIt) {
    ASSERT_NO_FATAL_FAILURE(assemble(
        "code:   execute \"\"\"{var9}\"\" out.txt {var1}\", true, $var0\n end\n"
        "count:  execute \"\"\"{var9}\"\" out.txt {var1}\", true\n end\n"
        "nowait: execute \"\"\"{var9}\"\" later.txt 5\"\n end\n"
        "absent: execute \"{output_dir}\\missing.exe\", true, $var0\n end\n"));
    struct Case {
        const char* label;
        const char* exit;
        const char* slot;  // UserVar 0 afterwards
        int32_t errors;
    } cases[] = {
        {"code", "7", "7", 0},       {"code", "0", "0", 0},
        {"code", "-1", "-1", 0},     {"count", "3", "old", 1},
        {"count", "0", "old", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.label) + " " + c.exit);
        DeleteFileA(path("out.txt").c_str());
        lstrcpyA(var_slots[0], "old");
        lstrcpyA(var_slots[1], c.exit);
        const int32_t before = error_count;
        EXPECT_EQ(run(c.label), 0);
        EXPECT_EQ(error_count - before, c.errors);
        EXPECT_STREQ(var_slots[0], c.slot);
        // The child ran in OutputDir and had ended when execute returned.
        EXPECT_EQ(test_files::read_text(path("out.txt")), dir_);
    }
    details_.take();

    lstrcpyA(var_slots[0], "old");
    EXPECT_EQ(run("nowait"), 0);
    EXPECT_STREQ(var_slots[0], "old");
    EXPECT_TRUE(appears(path("later.txt"))) << "started without waiting";
    const std::string child = var_slots[9];
    EXPECT_EQ(details_.take(), (Lines{"run: \"" + child + "\" later.txt 5"}));

    const int32_t before = error_count;
    EXPECT_EQ(run("absent"), 0);
    EXPECT_EQ(error_count - before, 1) << "a program that cannot start";
    EXPECT_STREQ(var_slots[0], "old");
}

TEST_F(Processes, ShellOpensAProgramWithItsParameters) {
    ASSERT_NO_FATAL_FAILURE(assemble(
        "open:    shell_execute \"open\", \"{var9}\", \"shell.txt 0\"\n end\n"
        "default: shell_execute \"\", \"{var9}\", \"default.txt 0\"\n end\n"
        "missing: shell_execute \"open\", \"{output_dir}\\missing.exe\"\n end\n"));
    const std::string child = var_slots[9];
    EXPECT_EQ(run("open"), 0);
    EXPECT_EQ(run("default"), 0);
    EXPECT_EQ(error_count, 0);
    EXPECT_TRUE(appears(path("shell.txt")));
    EXPECT_TRUE(appears(path("default.txt"))) << "an empty verb is the default one";
    EXPECT_EQ(run("missing"), 0);
    EXPECT_EQ(error_count, 1);
    EXPECT_EQ(details_.take(), (Lines{"open: open " + child, "open:  " + child, "open: open " + path("missing.exe")}));
}

}  // namespace
