// Shared by the engine tests: a script built in-process with the builder
// library and loaded through the real reader, as the stub loads its own file;
// and the driver program that answers the message boxes the engine shows.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "builder/assembler.h"
#include "builder/compressor.h"
#include "builder/datablock_writer.h"
#include "datablock/header_view.h"
#include "datablock/reader.h"
#include "engine/engine.h"
#include "engine/expand.h"
#include "engine/varslots.h"
#include "startup/startup.h"
#include "tests/file_helpers.h"
#include "tests/windows/driver_process.h"
#include "ui/components_page.h"
#include "ui/message_box.h"

namespace engine_test {

using quillmar::Bytes;

using win_test::Driver;
using win_test::env;
using win_test::temp_path;

// The text of the invalid-instruction message in the scripts below.
inline const char* invalid_text() { return "Installation corrompue: instruction invalide"; }

// Entries and strings are set up by the test (or assembled from script text
// with load_script); load() builds the installer, loads it and makes its one
// language the current one. Each test starts from the process state that
// the stub's start-up gives a run.
class Script : public ::testing::Test {
protected:
    Script() {
        init_process_state();
        model_.languages = {quillmar::Language(1033)};
    }

    int32_t text(const std::string& s) { return model_.pool.add_text(s); }
    int32_t encoded(const std::string& s) { return model_.pool.add_encoded(s); }

    void load() {
        model_.languages[0].strings[LS_INVALID_INSTRUCTION] = text(invalid_text());
        // The pool's last string, for the tests that take its terminator away.
        last_string_ = text("the last string");
        auto compress = [](const Bytes& b) { return quillmar::compress_stream(b.data(), b.size()); };
        Bytes image;
        std::string error;
        quillmar::ImageOptions options;
        ASSERT_TRUE(quillmar::build_installer(model_, Bytes(1000, 'M'), compress, options, image, error)) << error;
        path_ = temp_path("qme");
        ASSERT_TRUE(test_files::write_file(path_, image.data(), image.size())) << path_;
        own_file = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(own_file, INVALID_HANDLE_VALUE);
        header_position = (int32_t)quillmar::first_header_offset(1000);
        SetFilePointer(own_file, header_position, nullptr, FILE_BEGIN);
        ASSERT_EQ(load_header(), 0);
        const quillmar::Language& l = model_.languages[0];
        for (int i = 0; i < LANG_STRING_COUNT; ++i) language_.strings[i] = l.strings[i];
        language_.lang_id = l.lang_id;
        page_texts_ = l.page_texts;
        current_language = &language_;
        current_page_texts = page_texts_.data();
    }

    // Assembles `source` after the entries set up so far, then loads the
    // installer. Call it through ASSERT_NO_FATAL_FAILURE.
    void load_script(const std::string& source) {
        quillmar::AssembleResult result = quillmar::assemble(source, model_, "test.qms", 1);
        std::string errors;
        for (const quillmar::Diagnostic& e : result.errors) errors += e.text() + "\n";
        ASSERT_TRUE(result.ok()) << errors;
        labels_ = result.labels;
        load();
    }

    // Entry index of a label of the assembled script.
    int32_t label(const std::string& name) {
        auto found = labels_.find(name);
        if (found == labels_.end()) {
            ADD_FAILURE() << "no label " << name;
            return -1;
        }
        return found->second;
    }

    // Runs the code segment at a label without a progress window.
    int32_t run(const std::string& name) { return run_code_segment(script_entries, label(name), nullptr); }

    void TearDown() override {
        current_language = nullptr;
        current_page_texts = nullptr;
        release_data_block();
        if (own_file != INVALID_HANDLE_VALUE) CloseHandle(own_file);
        own_file = INVALID_HANDLE_VALUE;
        if (!path_.empty()) DeleteFileA(path_.c_str());
        for (auto& slot : var_slots) slot[0] = 0;
        error_count = 0;
        progress_count = progress_total = 0;
        entry_fault = 0;
        all_users_flag = 0;
        auto_close_flag = 0;
        temp_directory[0] = 0;
        quit_count = 0;
        reboot_flag = 0;
        detail_output_flags = 3;
        components_page_window = nullptr;
        current_main_window = nullptr;
        while (StackNode* top = string_stack) {
            string_stack = top->next;
            GlobalFree(top);
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }

    quillmar::DataBlockModel model_;
    LanguageRecord language_{};
    std::vector<int32_t> page_texts_;
    std::string path_;
    int32_t last_string_ = -1;
    std::map<std::string, int32_t> labels_;
};

// Driver commands that answer `count` message boxes with the given caption
// shown by `program`, one after the other, describing each.
inline std::string press_ok_on_boxes(const char* caption_text, const char* program, int count) {
    std::string commands;
    for (int i = 0; i < count; ++i) {
        if (i) commands += " : ";
        commands += std::string("wait --title \"") + caption_text + "\" --class #32770 --exe " + program +
                    " --timeout 20000 : msgbox : press OK : gone --timeout 5000";
    }
    return commands;
}

// Number of times `needle` occurs in `haystack`.
inline size_t occurrences(const std::string& haystack, const std::string& needle) {
    size_t n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
    return n;
}

}  // namespace engine_test
