// The wizard's main window in-process: page availability, the callbacks
// around every page change and what their abort messages do, the buttons and
// the caption, Cancel, and the colour hook, with the real pages.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "engine_fixture.h"
#include "resources/resource_ids.h"
#include "startup/run_driver.h"
#include "engine/status.h"
#include "ui/directory_page.h"
#include "ui/install_files_page.h"
#include "ui/main_window.h"

namespace {

using engine_test::Script;

// Every callback notes its letter in UserVar 4. on_next_page and
// on_prev_page abort once with the text of UserVar 5 when it is set (and
// quit when UserVar 9 says so); on_cancel and on_verify_dir abort while
// UserVar 7 and UserVar 8 are set.
const char kCallbacks[] = R"(
forward: copy_string $var4, "{var4}n"
         compare_string $var9, "quit", 3f, 1f
3:       copy_string $var9, ""
         quit
1:       compare_string $var5, "", 2f, 4f
2:       end
4:       copy_string $var6, "{var5}"
         copy_string $var5, ""
         abort "{var6}"
         end
back:    copy_string $var4, "{var4}p"
         compare_string $var5, "", 1f, 2f
1:       end
2:       copy_string $var6, "{var5}"
         copy_string $var5, ""
         abort "{var6}"
         end
shown:   copy_string $var4, "{var4}s"
         end
success: copy_string $var4, "{var4}S"
         end
cancel:  copy_string $var4, "{var4}c"
         compare_string $var7, "", 1f, 2f
1:       end
2:       abort
         end
failure: copy_string $var4, "{var4}f"
         end
verify:  copy_string $var4, "{var4}v"
         compare_string $var8, "", 1f, 2f
1:       end
2:       abort
         end
)";

// What the main window shows after one step.
struct Seen {
    int32_t page;
    std::string next, title, calls;
    bool back_visible, back_enabled;
};

class Navigation : public Script {
protected:
    // Pages switched on by their page texts: license, components, directory.
    void load_wizard(bool license, bool components, bool directory, uint8_t misc_flags = 0) {
        model_ = quillmar::DataBlockModel();
        model_.languages = {quillmar::Language(1033)};
        quillmar::AssembleResult result = quillmar::assemble(kCallbacks, model_, "wizard.qms", 1);
        ASSERT_TRUE(result.ok()) << (result.ok() ? "" : result.errors[0].text());
        labels_ = result.labels;
        InstallHeader& h = model_.header;
        h.on_next_page = label("forward");
        h.on_prev_page = label("back");
        h.on_page_shown = label("shown");
        h.on_success = label("success");
        h.on_cancel = label("cancel");
        h.on_failure = label("failure");
        h.on_verify_dir = label("verify");
        h.misc_flags = misc_flags;
        quillmar::Language& l = model_.languages[0];
        l.strings[LS_CLOSE] = text("Close");
        l.strings[LS_CANCEL] = text("Cancel");
        l.strings[LS_BRANDING] = text("Brand");
        for (int p = 0; p < 5; ++p) l.strings[LS_PAGE_SUFFIX_0 + p] = text(": page " + std::to_string(p));
        l.page_texts[PT_NEXT] = text("Next");
        l.page_texts[PT_BACK] = text("Back");
        l.page_texts[PT_INSTALL] = text("Install");
        l.page_texts[PT_LICENSE_ACCEPT] = text("Accept");
        if (license) l.page_texts[PT_LICENSE_TEXT] = text("the license");
        if (components) l.page_texts[PT_COMPONENTS_INTRO] = text("choose");
        if (directory) l.page_texts[PT_DIR_INTRO] = text("where");
        ASSERT_NO_FATAL_FAILURE(load());
        module_handle = GetModuleHandleA(nullptr);
        lstrcpyA(caption, "Cap");
        last_page = 3;
        page_base = 0;
        current_page = -1;
        page_window = nullptr;
        failure_count = 0;
        section_count = 0;
    }

    void TearDown() override {
        failure_count = 0;
        wizard_window = nullptr;
        // The install-files page publishes these for good; the next case
        // starts without them.
        detail_list = detail_status = details_button = progress_window = nullptr;
        Script::TearDown();
    }

    static std::string window_text(HWND w) {
        char buffer[512];
        GetWindowTextA(w, buffer, sizeof buffer);
        return buffer;
    }

    // Sends one message to the main window (from the test's second thread,
    // so the dialog's own thread handles it) and notes what it shows then.
    Seen send(HWND w, UINT message, WPARAM first) {
        SendMessageA(w, message, first, 0);
        Seen s;
        s.page = current_page;
        s.next = window_text(GetDlgItem(w, IDC_NEXT));
        s.title = window_text(w);
        s.calls = var_slots[4];
        HWND back = GetDlgItem(w, IDC_BACK);
        s.back_visible = IsWindowVisible(back) != 0;
        s.back_enabled = IsWindowEnabled(back) != 0;
        return s;
    }
    Seen navigate(HWND w, int direction) { return send(w, MSG_NAVIGATE, (WPARAM)direction); }
    Seen command(HWND w, int id) { return send(w, WM_COMMAND, (WPARAM)id); }
    Seen now(HWND w) { return send(w, WM_NULL, 0); }

    // Runs the wizard on this thread while `steps` works it from another;
    // returns the wizard's result.
    INT_PTR run_wizard(const std::function<void(HWND)>& steps) {
        wizard_window = nullptr;
        std::thread user([&] {
            for (int i = 0; i < 500 && !wizard_window; ++i) Sleep(10);
            if (!wizard_window) return;
            // Handled once the window's initialisation (the first move
            // included) is over and its dialog loop runs.
            SendMessageA(wizard_window, WM_NULL, 0, 0);
            steps(wizard_window);
        });
        const INT_PTR result =
            DialogBoxParamA(module_handle, MAKEINTRESOURCEA(IDD_MAIN_WINDOW), nullptr, main_dialog_proc, 0);
        user.join();
        return result;
    }

    // Waits until the install-files page has finished (Next enabled again).
    static void wait_for_next(HWND w) {
        for (int i = 0; i < 500 && !IsWindowEnabled(GetDlgItem(w, IDC_NEXT)); ++i) Sleep(10);
    }

    static bool ended() { return current_page < 0 || current_page > last_page; }

    // Ends a wizard that is still open: Cancel before the install-files
    // page, Close once it has finished.
    void finish(HWND w) {
        if (ended() || !IsWindowVisible(w)) return;
        if (current_page < 3) {
            command(w, IDC_CANCEL);
        } else {
            wait_for_next(w);
            navigate(w, 1);
        }
    }
};

TEST_F(Navigation, OnlyTheInstallFilesPage) {
    ASSERT_NO_FATAL_FAILURE(load_wizard(false, false, false));
    Seen first{}, last{};
    const INT_PTR result = run_wizard([&](HWND w) {
        wait_for_next(w);
        first = now(w);
        last = navigate(w, 1);
        finish(w);
    });
    EXPECT_EQ(first.page, 3);
    EXPECT_EQ(first.next, "Close");
    EXPECT_TRUE(first.back_visible);
    EXPECT_FALSE(first.back_enabled);
    EXPECT_EQ(first.calls, "ns");
    EXPECT_EQ(result, WIZARD_DONE);
    EXPECT_EQ(std::string(var_slots[4]), "nsnS") << "past the last page runs on_success";
}

TEST_F(Navigation, PagesThatExistAndTheButtons) {
    ASSERT_NO_FATAL_FAILURE(load_wizard(true, true, true));
    std::vector<Seen> seen;
    run_wizard([&](HWND w) {
        seen.push_back(now(w));            // license
        seen.push_back(navigate(w, 1));    // components
        seen.push_back(navigate(w, 1));    // directory
        seen.push_back(navigate(w, -1));   // back to components
        seen.push_back(command(w, IDC_CANCEL));
        finish(w);
    });
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].page, 0);
    EXPECT_EQ(seen[0].next, "Accept");
    EXPECT_FALSE(seen[0].back_visible);
    EXPECT_EQ(seen[0].title, "Cap: page 0");
    EXPECT_EQ(seen[1].page, 1);
    EXPECT_EQ(seen[1].next, "Next") << "the directory page follows";
    EXPECT_TRUE(seen[1].back_visible && seen[1].back_enabled);
    EXPECT_EQ(seen[2].page, 2);
    EXPECT_EQ(seen[2].next, "Install");
    EXPECT_EQ(seen[2].title, "Cap: page 2");
    EXPECT_EQ(seen[3].page, 1);
    EXPECT_EQ(seen[3].calls, "nsnsnsps") << "on_page_shown runs for every page shown";
    EXPECT_EQ(seen[4].calls, "nsnsnspsc");
}

// Pages whose text is missing are passed over without counting a step.
TEST_F(Navigation, MissingPagesArePassedOver) {
    struct Case {
        const char* name;
        bool license, components, directory;
        int32_t first, second;
        bool back_enabled_on_second;
    } cases[] = {
        {"license_then_install", true, false, false, 0, 3, false},
        {"components_without_license", false, true, true, 1, 2, true},
        {"directory_alone", false, false, true, 2, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(load_wizard(c.license, c.components, c.directory));
        Seen first{}, second{};
        run_wizard([&](HWND w) {
            first = now(w);
            second = navigate(w, 1);
            finish(w);
        });
        EXPECT_EQ(first.page, c.first);
        EXPECT_EQ(second.page, c.second);
        EXPECT_EQ(second.back_enabled, c.back_enabled_on_second);
        TearDown();
    }
}

TEST_F(Navigation, BackIsDisabledWithoutAnEarlierPage) {
    ASSERT_NO_FATAL_FAILURE(load_wizard(false, true, true));
    Seen first{}, after_back{};
    run_wizard([&](HWND w) {
        first = now(w);
        after_back = command(w, IDC_BACK);
        finish(w);
    });
    EXPECT_EQ(first.page, 1);
    EXPECT_TRUE(first.back_visible);
    EXPECT_FALSE(first.back_enabled);
    EXPECT_EQ(after_back.page, 1) << "a disabled Back does nothing";
    EXPECT_EQ(after_back.calls, "ns");
}

// on_next_page's abort message moves by that many existing pages, or keeps
// the page (0, or no number); a move past the last page runs on_success, a
// move before the first does not; quit ends the wizard.
TEST_F(Navigation, AbortMessagesRedirectTheMove) {
    struct Case {
        const char* name;
        const char* message;  // UserVar 5 before Next on the license page
        bool quit;
        int32_t page;         // after the move; -1 when the wizard ended
        const char* calls;
    } cases[] = {
        {"two_forward", "2", false, 2, "nsns"},
        {"one_back", "-1", false, -1, "nsn"},
        {"stay", "0", false, 0, "nsn"},
        {"not_a_number", "stop here", false, 0, "nsn"},
        {"past_the_last", "9", false, -1, "nsnS"},
        {"quit", "", true, -1, "nsn"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(load_wizard(true, true, true));
        Seen moved{};
        bool ended = false;
        const INT_PTR result = run_wizard([&](HWND w) {
            lstrcpyA(var_slots[5], c.message);
            if (c.quit) lstrcpyA(var_slots[9], "quit");
            moved = navigate(w, 1);
            ended = Navigation::ended();
            finish(w);
        });
        EXPECT_EQ(ended, c.page < 0);
        if (c.page >= 0) {
            EXPECT_EQ(moved.page, c.page);
        }
        EXPECT_EQ(moved.calls, c.calls);
        EXPECT_EQ(result, c.page < 0 ? WIZARD_DONE : WIZARD_CANCELLED);
        TearDown();
    }
}

TEST_F(Navigation, AtTheStartAMoveBackOrZeroEndsTheWizard) {
    for (const char* message : {"-1", "0"}) {
        SCOPED_TRACE(message);
        ASSERT_NO_FATAL_FAILURE(load_wizard(true, false, false));
        lstrcpyA(var_slots[5], message);
        const INT_PTR result = run_wizard([&](HWND w) { finish(w); });
        EXPECT_EQ(result, WIZARD_DONE);
        EXPECT_EQ(std::string(var_slots[4]), "n") << "no on_success before the first page";
        TearDown();
    }
}

// With skip_dir_page_if_valid and a valid install directory, the directory
// page is passed over: on_next_page runs again and on_verify_dir may veto.
TEST_F(Navigation, DirectoryPageSkippedWhenTheDirectoryIsValid) {
    struct Case {
        const char* name;
        const char* install_dir;
        bool veto;
        int32_t after_next;
        const char* components_next;
    } cases[] = {
        {"valid_skips", "C:\\Program Files\\App", false, 3, "Install"},
        {"verify_vetoes", "C:\\Program Files\\App", true, 2, "Next"},
        {"invalid_shows_it", "relative", false, 2, "Next"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(load_wizard(false, true, true, MISC_SKIP_DIR_PAGE_IF_VALID));
        lstrcpyA(var_slots[VAR_INSTALL_DIR], c.install_dir);
        if (c.veto) lstrcpyA(var_slots[8], "veto");
        Seen first{}, after{};
        run_wizard([&](HWND w) {
            first = now(w);
            after = navigate(w, 1);
            finish(w);
        });
        EXPECT_EQ(first.page, 1);
        EXPECT_EQ(first.next, c.components_next);
        EXPECT_EQ(after.page, c.after_next);
        if (c.after_next == 3) {
            // on_verify_dir decides the components page's Next text, and
            // again whether the move passes over the directory page; then
            // on_next_page runs once more for the next page.
            EXPECT_EQ(after.calls, "nvsnvns");
        }
        TearDown();
    }
}

TEST_F(Navigation, CancelAsksOnCancelOrRunsOnFailure) {
    ASSERT_NO_FATAL_FAILURE(load_wizard(true, false, false));
    lstrcpyA(var_slots[7], "refuse");
    Seen refused{};
    INT_PTR result = run_wizard([&](HWND w) {
        refused = command(w, IDC_CANCEL);
        var_slots[7][0] = 0;
        command(w, IDC_CANCEL);
        finish(w);
    });
    EXPECT_EQ(refused.page, 0) << "on_cancel refused the cancel";
    EXPECT_EQ(result, WIZARD_CANCELLED);
    EXPECT_EQ(std::string(var_slots[4]), "nscc");
    TearDown();

    ASSERT_NO_FATAL_FAILURE(load_wizard(true, false, false));
    result = run_wizard([&](HWND w) {
        failure_count = 1;
        command(w, IDC_CANCEL);
        finish(w);
    });
    EXPECT_EQ(result, WIZARD_FAILED);
    EXPECT_EQ(std::string(var_slots[4]), "nsf") << "on_failure, never on_cancel";
}

// A static control whose user data is a colour + 1 is painted on it.
TEST(ColourHook, UserDataColourPlusOne) {
    HWND control = CreateWindowA("STATIC", "x", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(control, nullptr);
    HDC dc = GetDC(control);
    struct Case {
        LONG_PTR user_data;
        bool brush;
        COLORREF background;
    } cases[] = {{1, true, RGB(0, 0, 0)}, {(LONG_PTR)RGB(255, 255, 255) + 1, true, RGB(255, 255, 255)},
                 {(LONG_PTR)RGB(0x12, 0x34, 0x56) + 1, true, RGB(0x12, 0x34, 0x56)}};
    for (const Case& c : cases) {
        SetBkColor(dc, RGB(1, 2, 3));
        SetWindowLongPtrA(control, GWLP_USERDATA, c.user_data);
        const INT_PTR brush = dialog_colour_hook(WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)control);
        EXPECT_NE(brush, 0) << c.user_data;
        LOGBRUSH info{};
        GetObjectA((HBRUSH)brush, sizeof info, &info);
        EXPECT_EQ(info.lbColor, c.background);
        EXPECT_EQ(GetBkColor(dc), c.background);
    }
    SetWindowLongPtrA(control, GWLP_USERDATA, 0);
    SetBkColor(dc, RGB(1, 2, 3));
    EXPECT_EQ(dialog_colour_hook(WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)control), 0) << "0 keeps the defaults";
    EXPECT_EQ(GetBkColor(dc), RGB(1, 2, 3));
    EXPECT_EQ(dialog_colour_hook(WM_CTLCOLORBTN, (WPARAM)dc, (LPARAM)control), 0) << "only statics";
    ReleaseDC(control, dc);
    DestroyWindow(control);
}

// Sizes in kilobytes as the directory and components pages show them: the
// digit after the point is cut, not rounded.
TEST(DirectoryPage, SizeTexts) {
    const bool plus = (GetVersion() & 0x80000000u) != 0;
    struct Case {
        int32_t kb;
        std::string text;
    } cases[] = {
        {0, "0Ko"},          {1023, "1023Ko"},       {1024, "1.0Mo"},
        {1536, "1.5Mo"},     {2047, "1.9Mo"},        {1048575, "1023.9Mo"},
        {1048576, std::string("1.0Go") + (plus ? "+" : "")},
        {1572864, std::string("1.5Go") + (plus ? "+" : "")},
        // The largest size: the tenth must not overflow on the way.
        {0x7FFFFFFF, std::string("2047.9Go") + (plus ? "+" : "")},
        {0x7FFFFC00, std::string("2047.9Go") + (plus ? "+" : "")},
    };
    for (const Case& c : cases) {
        char buffer[64] = "Needed: ";
        append_size_text(c.kb, buffer);
        EXPECT_EQ(std::string(buffer), "Needed: " + c.text) << c.kb;
    }
}

// A browsed folder gets the default install directory's last component.
TEST(DirectoryPage, BrowsedFolderGetsTheDefaultComponent) {
    struct Case {
        const char* chosen;
        const char* default_dir;
        const char* result;
    } cases[] = {
        {"D:\\Apps", "C:\\Program Files\\Product", "D:\\Apps\\Product"},
        {"D:\\", "C:\\Program Files\\Product", "D:\\Product"},
        {"D:\\apps\\product", "C:\\Program Files\\Product", "D:\\apps\\product"},
        {"D:\\myproduct", "C:\\Program Files\\Product", "D:\\myproduct\\Product"},
        {"D:\\Apps", "Product", "D:\\Apps"},
        {"D:\\Apps", "C:\\Program Files\\", "D:\\Apps"},
    };
    for (const Case& c : cases) {
        char path[1024];
        lstrcpyA(path, c.chosen);
        append_default_component(path, c.default_dir);
        EXPECT_EQ(std::string(path), c.result) << c.chosen << " + " << c.default_dir;
    }
    // A path that cannot take the component keeps what was chosen.
    std::string long_path = "D:\\" + std::string(1015, 'a');
    char path[1024];
    lstrcpyA(path, long_path.c_str());
    append_default_component(path, "C:\\Product");
    EXPECT_EQ(std::string(path), long_path);
}

}  // namespace
