// The components page in-process: the tree it builds from the section
// records (subsections, bold items, hidden sections, expanded groups), the
// check images and selected bits through toggles and install types in the
// three modes, the callbacks (after a change, on hover) and what the section
// instruction tells the page while the change callback runs. The page is
// driven by the messages a user's keys and clicks become; the end-to-end
// tests click the real thing.
#include <gtest/gtest.h>

#include "engine_fixture.h"

#include "builder/text_encoding.h"
#include "resources/resource_ids.h"
#include "startup/run_driver.h"
#include "ui/components_page.h"
#include "ui/main_window.h"

namespace {

using engine_test::Script;

// The change callback notes "c" in UserVar 4 and renames section 1 or clears
// section 2's flags when UserVar 8 says so; the hover callback notes the
// section index it is given in UserVar 7 and then spoils UserVar 0.
const char kScript[] = R"(
code:    end
changed: copy_string $var4, "{var4}c"
         compare_string $var8, "rename", 1f, 2f
1:       section 1, set_name, "Renamed {var9}"
         end
2:       compare_string $var8, "flag", 3f, 4f
3:       section 2, set_flags, 0
4:       end
hover:   copy_string $var7, "{var7}[{var0}]"
         copy_string $var0, "clobbered"
         end
outside: section 0, set_flags, -2147483648
         end
)";

struct Section {
    const char* name;  // null: hidden
    uint32_t flags;
    int32_t size_kb = 0;
    int32_t expanded = 0;
};

// One tree item as the page shows it.
struct Item {
    int depth;
    std::string text;
    int image;
    bool bold, expanded;
    int32_t section;

    bool operator==(const Item& o) const {
        return depth == o.depth && text == o.text && image == o.image && bold == o.bold && expanded == o.expanded &&
               section == o.section;
    }
};
std::ostream& operator<<(std::ostream& out, const Item& i) {
    return out << "{" << i.depth << " '" << i.text << "' img " << i.image << (i.bold ? " bold" : "")
               << (i.expanded ? " expanded" : "") << " s" << i.section << "}";
}

const uint32_t SEL = SECTION_SELECTED;
const uint32_t RO = SECTION_READ_ONLY;

class ComponentsPage : public Script {
protected:
    void load_page(const std::vector<Section>& sections, const std::vector<const char*>& types = {},
                   int32_t mode = INSTALL_TYPES_WITH_CUSTOM, const std::string& space_text = "Needs: ") {
        model_ = quillmar::DataBlockModel();
        model_.languages = {quillmar::Language(1033)};
        quillmar::AssembleResult result = quillmar::assemble(kScript, model_, "components.qms", 1);
        ASSERT_TRUE(result.ok()) << (result.ok() ? "" : result.errors[0].text());
        labels_ = result.labels;
        InstallHeader& h = model_.header;
        h.on_selection_change = label("changed");
        h.on_mouse_over_section = label("hover");
        for (int32_t& name : h.install_type_names) name = REF_NONE;
        for (size_t i = 0; i < types.size(); ++i) h.install_type_names[i] = text(types[i]);
        h.install_type_mode = mode;
        for (const Section& s : sections)
            model_.sections.push_back({s.name ? name(s.name) : REF_NONE, s.flags, label("code"), 0, s.size_kb,
                                       s.expanded});
        h.section_count = (int32_t)sections.size();
        quillmar::Language& l = model_.languages[0];
        l.page_texts[PT_COMPONENTS_INTRO] = text("Pick some");
        l.page_texts[PT_COMPONENTS_TYPE_LABEL] = text("Type:");
        l.page_texts[PT_COMPONENTS_TREE_LABEL] = text("Parts:");
        l.page_texts[PT_CUSTOM_TYPE] = text("Own choice");
        l.page_texts[PT_SPACE_REQUIRED] = text(space_text);
        ASSERT_NO_FATAL_FAILURE(load());
        module_handle = GetModuleHandleA(nullptr);
        section_count = (int32_t)sections.size();
        current_install_type = 0;
        open();
    }

    // A section name as the builder stores it: placeholders become codes.
    int32_t name(const std::string& written) {
        std::string stored;
        std::vector<quillmar::TextProblem> problems;
        EXPECT_TRUE(quillmar::encode_text(written, quillmar::windows_1252(), false, stored, problems)) << written;
        return encoded(stored);
    }

    void open() {
        parent_ = CreateWindowExA(0, "STATIC", "components test", WS_POPUP, 0, 0, 600, 400, nullptr, nullptr,
                                  nullptr, nullptr);
        ASSERT_NE(parent_, nullptr);
        page_ = CreateDialogParamA(module_handle, MAKEINTRESOURCEA(IDD_COMPONENTS_PAGE), parent_,
                                   components_page_proc, 0);
        ASSERT_NE(page_, nullptr);
        tree_ = GetDlgItem(page_, IDC_COMPONENTS_TREE);
        combo_ = GetDlgItem(page_, IDC_INSTALL_TYPES);
    }
    void close() {
        if (parent_) DestroyWindow(parent_);
        parent_ = page_ = tree_ = combo_ = nullptr;
    }
    void reopen() {
        close();
        open();
    }
    void TearDown() override {
        close();
        section_count = 0;
        current_install_type = 0;
        Script::TearDown();
    }

    HTREEITEM next(HTREEITEM item, WPARAM relation) {
        return (HTREEITEM)SendMessageA(tree_, TVM_GETNEXTITEM, relation, (LPARAM)item);
    }
    Item read(HTREEITEM item, int depth) {
        char text[256] = "";
        TVITEMA tv = {};
        tv.mask = TVIF_TEXT | TVIF_STATE | TVIF_PARAM;
        tv.hItem = item;
        tv.stateMask = TVIS_STATEIMAGEMASK | TVIS_BOLD | TVIS_EXPANDED;
        tv.pszText = text;
        tv.cchTextMax = sizeof(text);
        SendMessageA(tree_, TVM_GETITEMA, 0, (LPARAM)&tv);
        return {depth, text, (int)((tv.state & TVIS_STATEIMAGEMASK) >> 12), (tv.state & TVIS_BOLD) != 0,
                (tv.state & TVIS_EXPANDED) != 0, (int32_t)tv.lParam};
    }
    // Every item, depth first, in the order shown.
    std::vector<Item> items() {
        std::vector<Item> out;
        walk(next(nullptr, TVGN_ROOT), 0, out);
        return out;
    }
    void walk(HTREEITEM item, int depth, std::vector<Item>& out) {
        for (; item; item = next(item, TVGN_NEXT)) {
            out.push_back(read(item, depth));
            walk(next(item, TVGN_CHILD), depth + 1, out);
        }
    }
    HTREEITEM find(const std::string& text) {
        std::vector<HTREEITEM> stack = {next(nullptr, TVGN_ROOT)};
        while (!stack.empty()) {
            HTREEITEM item = stack.back();
            stack.pop_back();
            for (; item; item = next(item, TVGN_NEXT)) {
                if (read(item, 0).text == text) return item;
                stack.push_back(next(item, TVGN_CHILD));
            }
        }
        ADD_FAILURE() << "no item " << text;
        return nullptr;
    }
    int image(const std::string& text) { return read(find(text), 0).image; }
    // A user's space key on the item: selected, then toggled.
    void toggle(const std::string& text) {
        SendMessageA(tree_, TVM_SELECTITEM, TVGN_CARET, (LPARAM)find(text));
        SendMessageA(tree_, WM_KEYDOWN, VK_SPACE, 0);
    }
    void choose_type(int index) {
        SendMessageA(combo_, CB_SETCURSEL, (WPARAM)index, 0);
        SendMessageA(page_, WM_COMMAND, MAKEWPARAM(IDC_INSTALL_TYPES, CBN_SELCHANGE), (LPARAM)combo_);
    }
    int combo_selection() { return (int)SendMessageA(combo_, CB_GETCURSEL, 0, 0); }
    std::string combo_entries() {
        std::string out;
        const int n = (int)SendMessageA(combo_, CB_GETCOUNT, 0, 0);
        for (int i = 0; i < n; ++i) {
            char text[64] = "";
            SendMessageA(combo_, CB_GETLBTEXT, (WPARAM)i, (LPARAM)text);
            out += std::string(i ? "," : "") + text;
        }
        return out;
    }
    bool selected(int32_t i) { return (section_records[i].flags & SECTION_SELECTED) != 0; }
    std::string control_text(int id) {
        char text[256] = "";
        GetDlgItemTextA(page_, id, text, sizeof(text));
        return text;
    }
    bool visible(HWND w) { return (GetWindowLongA(w, GWL_STYLE) & WS_VISIBLE) != 0; }

    HWND parent_ = nullptr, page_ = nullptr, tree_ = nullptr, combo_ = nullptr;
};

TEST_F(ComponentsPage, TreeFollowsTheNamingRules) {
    ASSERT_NO_FATAL_FAILURE(load_page({
        {"!Bold item", SEL},
        {"-Group", SEL, 0, 1},
        {"Plain {var3}", 0},
        {"-!Inner", SEL},
        {"Deep", SEL | RO},
        {"-", 0},
        {nullptr, SEL},  // hidden
        {"Last in group", RO},
        {"-", 0},
        {"-", 0},         // one end too many: stays at the top
        {"Top", SEL},
    }));
    const std::vector<Item> expected = {
        {0, "Bold item", 2, true, false, 0},
        {0, "Group", 3, false, true, 1},
        {1, "Plain ", 1, false, false, 2},
        {1, "Inner", 2, true, false, 3},
        {2, "Deep", 5, false, false, 4},
        {1, "Last in group", 4, false, false, 7},
        {0, "Top", 2, false, false, 10},
    };
    EXPECT_EQ(items(), expected);
    EXPECT_TRUE(GetWindowLongA(tree_, GWL_STYLE) & TVS_LINESATROOT) << "subsections show root lines";
    EXPECT_EQ(control_text(IDC_INTRO), "Pick some");
    EXPECT_EQ(control_text(IDC_COMPONENTS_TREE_LABEL), "Parts:");
    EXPECT_FALSE(visible(combo_)) << "no install types: no combo box";
}

TEST_F(ComponentsPage, FlatListHasNoRootLines) {
    ASSERT_NO_FATAL_FAILURE(load_page({{"One", SEL}, {"Two", 0}}));
    EXPECT_FALSE(GetWindowLongA(tree_, GWL_STYLE) & TVS_LINESATROOT);
    EXPECT_EQ(items().size(), 2u);
}

TEST_F(ComponentsPage, TogglesMarkSubtreesAndParents) {
    ASSERT_NO_FATAL_FAILURE(load_page({
        {"-Group", 0},
        {"A", 0, 100},
        {"B", 0, 924},
        {"Locked", RO, 5000},
        {"-", 0},
        {"Fixed", SEL | RO, 1},
    }));
    EXPECT_EQ(control_text(IDC_SPACE_REQUIRED), "Needs: 1Ko");
    toggle("Group");
    EXPECT_EQ(image("Group"), 2);
    EXPECT_EQ(image("A"), 2);
    EXPECT_EQ(image("B"), 2);
    EXPECT_EQ(image("Locked"), 4) << "read-only sections keep their image";
    EXPECT_TRUE(selected(0) && selected(1) && selected(2));
    EXPECT_FALSE(selected(3));
    EXPECT_EQ(control_text(IDC_SPACE_REQUIRED), "Needs: 1.0Mo");
    EXPECT_STREQ(var_slots[4], "c");

    toggle("B");
    EXPECT_EQ(image("B"), 1);
    EXPECT_FALSE(selected(2));
    EXPECT_EQ(image("Group"), 3) << "children that differ: partly checked";
    EXPECT_TRUE(selected(0)) << "a parent's own bit is not changed by its children";
    toggle("Group");  // partly checked: a toggle checks everything
    EXPECT_EQ(image("B"), 2);
    EXPECT_EQ(image("Group"), 2);

    toggle("Locked");
    toggle("Fixed");
    EXPECT_EQ(image("Locked"), 4);
    EXPECT_EQ(image("Fixed"), 5);
    EXPECT_FALSE(selected(3));
    EXPECT_TRUE(selected(5));
    EXPECT_STREQ(var_slots[4], "ccc") << "read-only clicks run no callback";
}

// Mode 0: the combo box follows the check boxes to the first matching type,
// else to the custom entry; choosing a type sets the boxes; hidden sections
// keep their flags whatever happens.
TEST_F(ComponentsPage, TypesFollowTheCheckBoxes) {
    ASSERT_NO_FATAL_FAILURE(load_page(
        {
            {"A", 0x7},
            {"B", 0x3},
            {"C", 0x1},
            {nullptr, 0x2},          // hidden, member of type 1, not selected
            {"Always", SEL | RO | 0x4},
        },
        {"Full", "Two", "Small"}));
    EXPECT_EQ(combo_entries(), "Full,Two,Small,Own choice");
    EXPECT_EQ(combo_selection(), 0);
    EXPECT_TRUE(selected(0) && selected(1) && selected(2)) << "type 0 on arrival";
    toggle("C");
    EXPECT_EQ(combo_selection(), 1) << "A and B are type Two";
    EXPECT_EQ(current_install_type, 1);
    toggle("B");
    EXPECT_EQ(combo_selection(), 2) << "A alone is type Small";
    toggle("A");
    EXPECT_EQ(combo_selection(), 3) << "nothing checked matches no type";
    choose_type(1);
    EXPECT_EQ(image("A"), 2);
    EXPECT_EQ(image("B"), 2);
    EXPECT_EQ(image("C"), 1);
    EXPECT_FALSE(selected(3)) << "a hidden section keeps its flags";
    EXPECT_EQ(image("Always"), 5);
    choose_type(3);
    EXPECT_EQ(current_install_type, 3);
    EXPECT_EQ(image("A"), 2) << "the custom entry keeps the boxes";

    // Back on the page with a predefined type chosen, the boxes are that type.
    choose_type(2);
    section_records[1].flags |= SECTION_SELECTED;
    reopen();
    EXPECT_EQ(combo_selection(), 2);
    EXPECT_FALSE(selected(1));
    EXPECT_EQ(image("B"), 1);
}

TEST_F(ComponentsPage, FixedTypesSnapBackAfterTheCallback) {
    ASSERT_NO_FATAL_FAILURE(load_page({{"A", 0x1}, {"B", 0x3}}, {"Full", "Minimal"}, INSTALL_TYPES_FIXED));
    EXPECT_EQ(combo_entries(), "Full,Minimal") << "no custom entry";
    choose_type(1);
    EXPECT_EQ(image("A"), 1);
    toggle("A");
    EXPECT_STREQ(var_slots[4], "c") << "the callback runs";
    EXPECT_EQ(image("A"), 1) << "and the boxes go back to the type";
    EXPECT_FALSE(selected(0));
    EXPECT_EQ(combo_selection(), 1);
}

TEST_F(ComponentsPage, TreeOnlyForTheCustomEntry) {
    ASSERT_NO_FATAL_FAILURE(load_page({{"A", 0x1}, {"B", 0x3}}, {"Full", "Minimal"}, INSTALL_TYPES_CUSTOM_TREE));
    HWND label = GetDlgItem(page_, IDC_COMPONENTS_TREE_LABEL);
    EXPECT_FALSE(visible(tree_));
    EXPECT_FALSE(visible(label));
    choose_type(2);
    EXPECT_TRUE(visible(tree_));
    EXPECT_TRUE(visible(label));
    choose_type(0);
    EXPECT_FALSE(visible(tree_));
    TearDown();

    // Without install types the custom entry is all there is, and still no tree.
    ASSERT_NO_FATAL_FAILURE(load_page({{"A", SEL}}, {}, INSTALL_TYPES_CUSTOM_TREE));
    EXPECT_FALSE(visible(tree_));
    EXPECT_FALSE(visible(combo_));
}

TEST_F(ComponentsPage, HoverRunsOncePerSectionWithItsIndex) {
    ASSERT_NO_FATAL_FAILURE(load_page({{"A", 0}, {"B", 0}}));
    lstrcpyA(var_slots[0], "mine");
    for (int32_t section : {1, 1, 0, 0, 1}) SendMessageA(tree_, MSG_SECTION_HOVER, 0, section);
    EXPECT_STREQ(var_slots[7], "[1][0][1]");
    EXPECT_STREQ(var_slots[0], "mine") << "UserVar 0 is the index only during the callback";
    // Selecting an item reports its section too.
    SendMessageA(tree_, TVM_SELECTITEM, TVGN_CARET, (LPARAM)find("A"));
    EXPECT_STREQ(var_slots[7], "[1][0][1][0]");
    // A new tree starts without a last section.
    reopen();
    SendMessageA(tree_, MSG_SECTION_HOVER, 0, 0);
    EXPECT_STREQ(var_slots[7], "[1][0][1][0][0]");
}

// While the change callback runs, the section instruction updates the page.
TEST_F(ComponentsPage, SectionInstructionUpdatesThePage) {
    ASSERT_NO_FATAL_FAILURE(load_page({{"A", 0}, {"B", SEL}, {"C", SEL}}));
    lstrcpyA(var_slots[8], "rename");
    lstrcpyA(var_slots[9], "now");
    toggle("A");
    EXPECT_EQ(read(find("Renamed now"), 0).image, 2) << "the renamed item keeps its check";
    lstrcpyA(var_slots[8], "flag");
    toggle("A");
    EXPECT_EQ(image("C"), 1);
    EXPECT_FALSE(selected(2));
    EXPECT_EQ(components_page_window, nullptr) << "registered only during the callback";
    // Outside the callback the page hears nothing.
    EXPECT_EQ(run("outside"), 0);
    EXPECT_EQ(image("A"), 1);
    EXPECT_TRUE(selected(0));
}

// The space text is composed in a bounded buffer: a long page text is cut,
// never written past it; sizes of a damaged data block do not wrap around.
TEST_F(ComponentsPage, SpaceTextStaysBounded) {
    ASSERT_NO_FATAL_FAILURE(load_page({{"A", SEL, 0x7FFFFFF0}, {"B", SEL, 0x7FFFFFF0}}));
    EXPECT_EQ(control_text(IDC_SPACE_REQUIRED), "Needs: 2047.9Go");
    TearDown();
    ASSERT_NO_FATAL_FAILURE(load_page({{"A", SEL, 1536}}, {}, INSTALL_TYPES_WITH_CUSTOM, std::string(300, 'x')));
    EXPECT_EQ(control_text(IDC_SPACE_REQUIRED), std::string(111, 'x') + "1.5Mo");
}

}  // namespace
