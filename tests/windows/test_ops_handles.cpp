// The file and search handle instructions, on scripts assembled from text by
// the builder library, loaded through the real reader and run against real
// files in a temporary directory.
//
// Every test assembles the one script below; C++ sets the VarSlots that the
// segments read and checks what they leave behind:
//   $var0 handle, $var1 text read or name found, $var2 position,
//   $var10 the directory, $var11 a file name or pattern, $var12 text to
//   write, $var13 a number (maximum, byte, distance).
#include "engine_fixture.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "builder/assembler.h"
#include "engine/ops_handles.h"
#include "tests/file_helpers.h"

namespace {

const char kScript[] = R"(
open_read:    file_open "{var10}\{var11}", GENERIC_READ, OPEN_EXISTING, $var0
              end
open_write:   file_open "{var10}\{var11}", GENERIC_WRITE, CREATE_ALWAYS, $var0
              end
open_new:     file_open "{var10}\{var11}", GENERIC_READ|GENERIC_WRITE, CREATE_NEW, $var0
              end
write:        file_write $var0, $var12
              end
write_byte:   file_write $var0, $var13, 1
              end
read:         file_read $var0, $var1, $var13
              end
read_line:    file_read $var0, $var1
              end
read_byte:    file_read $var0, $var1, $var13, 1
              end
read_self:    file_read $var0, $var0, $var13
              end
seek_begin:   file_seek $var0, $var13, FILE_BEGIN, $var2
              end
seek_current: file_seek $var0, $var13, FILE_CURRENT, $var2
              end
seek_end:     file_seek $var0, $var13, FILE_END, $var2
              end
seek_bad:     file_seek $var0, $var13, 7, $var2
              end
seek_quiet:   file_seek $var0, $var13, FILE_BEGIN
              end
close:        file_close $var0
              end
find_first:   find_first "{var10}\{var11}", $var1, $var0
              end
find_next:    find_next $var1, $var0
              end
find_close:   find_close $var0
              end
)";

class HandleOps : public engine_test::Script {
protected:
    void SetUp() override {
        dir_ = win_test::temp_path("qmh");
        DeleteFileA(dir_.c_str());
        ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr));
        quillmar::AssembleResult assembled = quillmar::assemble(kScript, model_, "handles.qms", 1);
        ASSERT_TRUE(assembled.ok()) << assembled.errors[0].text();
        labels_ = assembled.labels;
        load();
        set(10, dir_);
    }

    void TearDown() override {
        remove_tree(dir_);
        Script::TearDown();
    }

    static void remove_tree(const std::string& dir) {
        WIN32_FIND_DATAA data;
        HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &data);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = data.cFileName;
                if (name == "." || name == "..") continue;
                const std::string path = dir + "\\" + name;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    remove_tree(path);
                else
                    DeleteFileA(path.c_str());
            } while (FindNextFileA(search, &data));
            FindClose(search);
        }
        RemoveDirectoryA(dir.c_str());
    }

    // Runs the segment at `label`; the segments never abort.
    void run(const char* label) {
        auto at = labels_.find(label);
        ASSERT_NE(at, labels_.end()) << label;
        EXPECT_EQ(run_code_segment(script_entries, at->second, nullptr), 0) << label;
    }

    static void set(int slot, const std::string& text) { lstrcpynA(var_slots[slot], text.c_str(), VAR_SLOT_SIZE); }
    static std::string slot(int i) { return var_slots[i]; }

    std::string path(const std::string& name) const { return dir_ + "\\" + name; }

    void write_file(const std::string& name, const std::string& bytes) const { test_files::write_text(path(name), bytes); }

    std::string file_bytes(const std::string& name) const { return test_files::read_text(path(name)); }

    // Opens `name` with the segment `how` and returns the handle text.
    std::string open(const char* how, const std::string& name) {
        set(11, name);
        run(how);
        return slot(0);
    }

    // One read step: the text read and whether it raised error_count.
    struct Step {
        std::string text;
        bool error;
        bool operator==(const Step& o) const { return text == o.text && error == o.error; }
    };
    Step read_step(const char* how, const std::string& max) {
        set(13, max);
        const int32_t errors = error_count;
        run(how);
        return {slot(1), error_count != errors};
    }

    std::string dir_;
    std::map<std::string, int32_t> labels_;
};

// ---- Files ---------------------------------------------------------------------

TEST_F(HandleOps, WriteCloseReopenAndReadLines) {
    const std::string handle = open("open_write", "data.txt");
    ASSERT_NE(handle, "");
    for (const char* text : {"first line\r\n", "", "second\n", "third"}) {
        set(12, text);
        run("write");
    }
    run("close");
    EXPECT_EQ(error_count, 0);
    EXPECT_EQ(file_bytes("data.txt"), "first line\r\nsecond\nthird");

    // The closed handle's text stays in the VarSlot, and names nothing now.
    EXPECT_EQ(slot(0), handle);
    set(12, "more");
    run("write");
    EXPECT_EQ(error_count, 1);
    EXPECT_EQ(file_bytes("data.txt"), "first line\r\nsecond\nthird");
    error_count = 0;

    open("open_read", "data.txt");
    std::vector<std::string> lines;
    for (int i = 0; i < 3; ++i) lines.push_back(read_step("read_line", "").text);
    EXPECT_EQ(lines, (std::vector<std::string>{"first line\r\n", "second\n", "third"}));
    EXPECT_EQ(error_count, 0);
    EXPECT_EQ(read_step("read_line", ""), (Step{"", true}));
    run("close");
}

TEST_F(HandleOps, OpenFailuresEmptyTheHandleAndRaiseTheErrorCount) {
    write_file("exists.txt", "keep");
    struct Case {
        const char* how;
        const char* name;
    };
    const Case cases[] = {
        {"open_read", "missing.txt"},
        {"open_new", "exists.txt"},
        {"open_read", "no such dir\\x.txt"},
    };
    for (const Case& c : cases) {
        set(0, "junk");
        error_count = 0;
        EXPECT_EQ(open(c.how, c.name), "") << c.how << ' ' << c.name;
        EXPECT_EQ(error_count, 1) << c.how << ' ' << c.name;
    }
    EXPECT_EQ(file_bytes("exists.txt"), "keep");

    // Opens that succeed give distinct texts; the access mode is the script's.
    error_count = 0;
    const std::string reader = open("open_read", "exists.txt");
    set(12, "x");
    run("write");  // a read-only handle does not write
    EXPECT_EQ(error_count, 1);
    run("close");
    const std::string writer = open("open_write", "new.txt");
    EXPECT_NE(reader, writer);
    EXPECT_EQ(read_step("read_line", ""), (Step{"", true}));  // a write-only handle does not read
    run("close");
    EXPECT_EQ(error_count, 2);
}

TEST_F(HandleOps, LineReadsKeepTheBreakAndStopAtTheLimit) {
    const std::string long_line(1500, 'x');
    struct Case {
        const char* name;
        std::string bytes;
        const char* max;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"cr lf", "ab\r\nc", "100", {{"ab\r\n", false}, {"c", false}, {"", true}}},
        {"lf lf", "a\n\nb", "100", {{"a\n", false}, {"\n", false}, {"b", false}}},
        {"lf cr", "a\n\rb\r\r", "100", {{"a\n\r", false}, {"b\r", false}, {"\r", false}, {"", true}}},
        {"break split by the limit", "abcd\r\n", "5", {{"abcd\r", false}, {"\n", false}, {"", true}}},
        {"exact fit", "abc\n", "3", {{"abc", false}, {"\n", false}}},
        {"zero byte", std::string("ab\0cd", 5), "100", {{"ab", false}, {"cd", false}}},
        {"zero byte first", std::string("\0x", 2), "100", {{"", true}, {"x", false}}},
        {"empty file", "", "100", {{"", true}, {"", true}}},
        {"line longer than the slot", long_line + "\r\n", "",
         {{long_line.substr(0, 1023), false}, {long_line.substr(1023) + "\r\n", false}}},
        {"maximum above the slot", long_line, "5000", {{long_line.substr(0, 1023), false}}},
        {"maximum one", "ab", "1", {{"a", false}, {"b", false}, {"", true}}},
    };
    for (const Case& c : cases) {
        write_file("lines.txt", c.bytes);
        open("open_read", "lines.txt");
        for (size_t i = 0; i < c.steps.size(); ++i)
            EXPECT_EQ(read_step(*c.max ? "read" : "read_line", c.max), c.steps[i]) << c.name << ", read " << i;
        run("close");
        error_count = 0;
    }

    // A maximum below 1 reads nothing, leaves the text and raises nothing.
    write_file("lines.txt", "line\n");
    open("open_read", "lines.txt");
    for (const char* max : {"0", "-1", "0x80000000"}) {
        set(1, "untouched");
        EXPECT_EQ(read_step("read", max), (Step{"untouched", false})) << max;
    }
    EXPECT_EQ(read_step("read", "100"), (Step{"line\n", false}));
    run("close");

    // The handle VarSlot may receive the text.
    write_file("lines.txt", "abc");
    open("open_read", "lines.txt");
    set(13, "100");
    const std::string handle = slot(0);
    run("read_self");
    EXPECT_EQ(slot(0), "abc");
    set(0, handle);
    run("close");
    EXPECT_EQ(error_count, 0);
}

TEST_F(HandleOps, BytesWrittenAndReadAsNumbers) {
    open("open_write", "bytes.bin");
    // Only the low 8 bits are written.
    for (const char* value : {"321", "200", "-1", "0", "0x10A"}) {
        set(13, value);
        run("write_byte");
    }
    run("close");
    EXPECT_EQ(error_count, 0);
    EXPECT_EQ(file_bytes("bytes.bin"), std::string("\x41\xC8\xFF\x00\x0A", 5));

    open("open_read", "bytes.bin");
    // Unsigned values; the maximum does not matter once it is 1 or more.
    std::vector<std::string> values;
    for (const char* max : {"1", "100", "1", "1", "1"}) values.push_back(read_step("read_byte", max).text);
    EXPECT_EQ(values, (std::vector<std::string>{"65", "200", "255", "0", "10"}));
    EXPECT_EQ(error_count, 0);
    EXPECT_EQ(read_step("read_byte", "0"), (Step{"10", false}));
    EXPECT_EQ(read_step("read_byte", "1"), (Step{"", true}));
    run("close");
}

TEST_F(HandleOps, SeekReportsTheNewPosition) {
    write_file("seek.txt", "hello world");
    open("open_read", "seek.txt");
    struct Case {
        const char* how;
        const char* distance;
        const char* position;  // written into $var2
        const char* next_read; // two bytes read from there ("" for none)
    };
    const Case cases[] = {
        {"seek_end", "0", "11", ""},
        {"seek_end", "-5", "6", "wo"},
        {"seek_current", "-4", "4", "o "},
        {"seek_begin", "2", "2", "ll"},
        {"seek_current", "3", "7", "or"},
        {"seek_begin", "20", "20", ""},  // past the end is a position
        {"seek_begin", "-1", "-1", ""},
        {"seek_bad", "0", "-1", ""},
    };
    for (const Case& c : cases) {
        set(2, "old");
        set(13, c.distance);
        run(c.how);
        EXPECT_EQ(slot(2), c.position) << c.how << ' ' << c.distance;
        if (*c.next_read) {
            EXPECT_EQ(read_step("read", "2").text, c.next_read) << c.how << ' ' << c.distance;
        }
    }
    // Without a destination the pointer still moves.
    set(2, "old");
    set(13, "6");
    run("seek_quiet");
    EXPECT_EQ(slot(2), "old");
    EXPECT_EQ(read_step("read", "5").text, "world");
    EXPECT_EQ(error_count, 0);

    // A failed move after a good one leaves the pointer where it was.
    set(13, "3");
    run("seek_begin");
    run("seek_bad");
    EXPECT_EQ(read_step("read", "2").text, "lo");
    const std::string handle = slot(0);
    run("close");

    // No handle: position -1, no error.
    for (const std::string& text : {std::string(""), handle, std::string("garbage")}) {
        set(0, text);
        set(2, "old");
        set(13, "0");
        run("seek_begin");
        EXPECT_EQ(slot(2), "-1") << '"' << text << '"';
    }
    EXPECT_EQ(error_count, 0);
}

// ---- Handle texts that name no open handle ------------------------------------------

TEST_F(HandleOps, TextsThatNameNoOpenHandleAreRejected) {
    write_file("target.txt", "data");
    write_file("bystander.txt", "");

    // A stale text: the entry of a closed handle taken by a later open.
    const std::string stale = open("open_read", "target.txt");
    run("close");
    run("close");  // closing twice does nothing
    const std::string handle = open("open_read", "target.txt");
    ASSERT_NE(handle, "");
    EXPECT_NE(handle, stale);

    // A platform handle value that the engine never gave out, open all the
    // same: nothing the engine does may reach it.
    HANDLE bystander =
        CreateFileA(path("bystander.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(bystander, INVALID_HANDLE_VALUE);
    const std::string platform = std::to_string((int)(intptr_t)bystander);
    ASSERT_NE(platform, handle);

    const std::string forged[] = {
        "", "0", "-1", "abc", " " + handle, handle + " ", handle + "\r\n", "0" + handle, "+" + handle, "-" + handle,
        stale, std::to_string(std::stoi(handle) + HANDLE_TABLE_SIZE), std::to_string(std::stoi(handle) + 1),
        "2147483647", "4294967295", "-2147483648", platform,
    };
    for (const std::string& text : forged) {
        error_count = 0;
        set(0, text);
        set(12, "written");
        run("write");
        EXPECT_EQ(error_count, 1) << "write with \"" << text << '"';
        EXPECT_EQ(read_step("read", "100"), (Step{"", true})) << "read with \"" << text << '"';
        set(13, "0");
        run("seek_end");
        EXPECT_EQ(slot(2), "-1") << "seek with \"" << text << '"';
        run("close");
        run("find_close");
        error_count = 0;
        run("find_next");
        EXPECT_EQ(error_count, 1) << "find_next with \"" << text << '"';
        EXPECT_EQ(slot(0), text);
    }

    // The real handle was neither closed nor moved, the bystander not touched.
    set(0, handle);
    error_count = 0;
    EXPECT_EQ(read_step("read", "100"), (Step{"data", false}));
    run("close");
    EXPECT_EQ(read_step("read", "100"), (Step{"", true}));
    DWORD size = GetFileSize(bystander, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_NE(SetFilePointer(bystander, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_TRUE(CloseHandle(bystander));
}

TEST_F(HandleOps, FileAndSearchHandlesAreNotInterchangeable) {
    write_file("a.txt", "file text");
    write_file("b.txt", "");
    const std::string file = open("open_read", "a.txt");
    set(11, "*.txt");
    run("find_first");  // puts the search handle into $var0
    const std::string search = slot(0);
    ASSERT_NE(search, "");
    EXPECT_NE(search, file);
    const std::string first = slot(1);

    // The search handle given to the file instructions.
    error_count = 0;
    EXPECT_EQ(read_step("read", "100"), (Step{"", true}));
    set(12, "x");
    run("write");
    EXPECT_EQ(error_count, 2);
    run("close");
    // The file handle given to the search instructions.
    set(0, file);
    set(1, "junk");
    run("find_next");
    EXPECT_EQ(slot(1), "");
    EXPECT_EQ(error_count, 3);
    run("find_close");

    // Both are still open and where they were.
    EXPECT_EQ(read_step("read", "100"), (Step{"file text", false}));
    run("close");
    set(0, search);
    run("find_next");
    EXPECT_EQ(error_count, 3);
    EXPECT_EQ(std::set<std::string>({first, slot(1)}), (std::set<std::string>{"a.txt", "b.txt"}));
    run("find_close");
    run("find_next");  // closed now
    EXPECT_EQ(error_count, 4);
    EXPECT_EQ(file_bytes("a.txt"), "file text");
}

TEST_F(HandleOps, AFullTableFailsOpensWithoutTouchingTheFile) {
    write_file("shared.txt", "s");
    write_file("keep.txt", "keep me");
    std::set<std::string> handles;
    int opened = 0;
    while (opened <= HANDLE_TABLE_SIZE) {
        if (open("open_read", "shared.txt").empty()) break;
        handles.insert(slot(0));
        ++opened;
    }
    EXPECT_EQ(opened, HANDLE_TABLE_SIZE);
    EXPECT_EQ(handles.size(), (size_t)opened);
    EXPECT_EQ(error_count, 1);

    // Neither a create-always open nor a search gets through, and the file
    // that the open would have truncated keeps its bytes.
    set(0, "junk");
    EXPECT_EQ(open("open_write", "keep.txt"), "");
    EXPECT_EQ(file_bytes("keep.txt"), "keep me");
    set(1, "junk");
    set(0, "junk");
    set(11, "*.txt");
    run("find_first");
    EXPECT_EQ(slot(0), "");
    EXPECT_EQ(slot(1), "");
    EXPECT_EQ(error_count, 3);

    // One close makes room for one search.
    set(0, *handles.begin());
    run("close");
    handles.erase(handles.begin());
    run("find_first");
    const std::string search = slot(0);
    EXPECT_NE(search, "");
    EXPECT_EQ(open("open_read", "shared.txt"), "");
    set(0, search);
    run("find_close");
    for (const std::string& h : handles) {
        set(0, h);
        run("close");
    }
    EXPECT_EQ(error_count, 4);
    EXPECT_NE(open("open_read", "shared.txt"), "");
    run("close");
}

// ---- Searches --------------------------------------------------------------------------

TEST_F(HandleOps, SearchesListEveryMatchThenFail) {
    for (const char* name : {"a.txt", "b.txt", "c.dat", "long file name.txt"}) write_file(name, name);
    ASSERT_TRUE(CreateDirectoryA(path("sub").c_str(), nullptr));
    write_file("sub\\inner.txt", "");

    struct Case {
        const char* pattern;
        std::set<std::string> names;
    };
    const Case cases[] = {
        {"*.txt", {"a.txt", "b.txt", "long file name.txt"}},
        {"*", {".", "..", "a.txt", "b.txt", "c.dat", "long file name.txt", "sub"}},
        {"c.dat", {"c.dat"}},
        {"sub\\*.txt", {"inner.txt"}},
    };
    for (const Case& c : cases) {
        error_count = 0;
        set(11, c.pattern);
        run("find_first");
        ASSERT_NE(slot(0), "") << c.pattern;
        std::multiset<std::string> found;
        while (error_count == 0 && found.size() < 20) {
            found.insert(slot(1));
            run("find_next");
        }
        EXPECT_EQ(std::set<std::string>(found.begin(), found.end()), c.names) << c.pattern;
        EXPECT_EQ(found.size(), c.names.size()) << c.pattern;
        // Past the end: the name is emptied and every further step fails too.
        EXPECT_EQ(slot(1), "");
        set(1, "junk");
        run("find_next");
        EXPECT_EQ(slot(1), "");
        EXPECT_EQ(error_count, 2) << c.pattern;
        run("find_close");
    }

    // Nothing matches: both VarSlots emptied.
    for (const char* pattern : {"*.none", "missing\\*", ""}) {
        error_count = 0;
        set(0, "junk");
        set(1, "junk");
        set(11, pattern);
        run("find_first");
        EXPECT_EQ(slot(0), "") << pattern;
        EXPECT_EQ(slot(1), "") << pattern;
        EXPECT_EQ(error_count, 1) << pattern;
    }
    // An empty handle VarSlot.
    error_count = 0;
    set(1, "junk");
    run("find_next");
    EXPECT_EQ(slot(1), "");
    EXPECT_EQ(error_count, 1);
}

}  // namespace
