// The components page of an installer started without /S, used as a person
// uses it: the tree shows the sections by their naming rules, clicks on the
// check images and the space key change them, the install-type box follows
// (or leads), the mouse over an item shows its description, and only the
// sections left checked are installed.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "tests/e2e/harness.h"
#include "tests/file_helpers.h"

namespace {

using namespace e2e;

const char kCaption[] = "Components test";
const std::string kTitle = std::string(kCaption) + ": Components";

// One tree item as the driver reads it.
struct TreeItem {
    int depth = 0, image = 0;
    bool bold = false, children = false, expanded = false;
    std::string text;
};

std::string field(const std::string& line, const std::string& key) {
    const size_t at = line.find(" " + key + "=");
    if (at == std::string::npos) return "";
    const size_t from = at + key.size() + 2;
    if (key == "text") return unescape(line.substr(from));
    return line.substr(from, line.find(' ', from) - from);
}

// What the page shows: its tree by item text, the install-type box, the
// description and space texts.
struct PageView {
    std::map<std::string, TreeItem> items;
    std::vector<std::string> order;
    std::vector<std::string> types;
    int type = -2;
    std::string description, space;
    std::string report;
    int image(const std::string& text) const {
        auto found = items.find(text);
        return found == items.end() ? -1 : found->second.image;
    }
};

// Runs `commands` on the installer's components page (waiting for it first).
DriverRun on_page(const WineProcess& installer, std::vector<std::string> commands) {
    std::vector<std::string> all = {"wait", "--title-prefix", kTitle, "--class", "#32770",
                                    "--exe", installer.exe_name(), "--timeout", "30000", ":"};
    all.insert(all.end(), commands.begin(), commands.end());
    return drive(all, 90);
}

PageView view(const WineProcess& installer, const std::string& screenshot = "") {
    std::vector<std::string> commands = {"visible", "--id", "1032", ":", "tree", "--id", "1032", ":", "combo",
                                         "--id", "1017", ":", "text", "--id", "1043", ":", "text", "--id", "1023"};
    if (!screenshot.empty()) commands.insert(commands.end(), {":", "screenshot", windows_path(screenshot)});
    DriverRun run = on_page(installer, commands);
    PageView v;
    v.report = run.report();
    for (const std::string& line : run.lines) {
        if (line.rfind("treeitem: ", 0) == 0) {
            TreeItem item;
            item.depth = std::stoi(field(line, "depth"));
            item.image = std::stoi(field(line, "state"));
            item.bold = field(line, "bold") == "yes";
            item.children = field(line, "children") == "yes";
            item.expanded = field(line, "expanded") == "yes";
            item.text = field(line, "text");
            v.items[item.text] = item;
            v.order.push_back(item.text);
        }
    }
    v.types = run.values("entry");
    const std::string selected = run.value("selected");
    if (!selected.empty()) v.type = std::stoi(selected);
    const std::vector<std::string> texts = run.values("text");
    if (texts.size() == 2) {
        v.description = texts[0];
        v.space = texts[1];
    }
    return v;
}

// Three payload folders; `settings` completes the [installer] table and the
// callbacks. The change callback counts the changes in the name of the
// Templates item; the hover callback adds the section index to the title.
std::string build(const std::string& name, const std::string& settings) {
    for (const char* folder : {"prog", "tpl", "doc"})
        test_files::write_bytes(output_dir() + "/" + folder + "/" + folder + ".bin",
                                noise(3000, (uint32_t)folder[0]));
    return build_from_description(
        name,
        "script = '''\n"
        "prog:    create_directory \"{install_dir}\", true\n"
        "         files \"prog\"\n"
        "         end\n"
        "tpl:     create_directory \"{install_dir}\", true\n"
        "         files \"tpl\"\n"
        "         end\n"
        "doc:     create_directory \"{install_dir}\", true\n"
        "         files \"doc\"\n"
        "         end\n"
        "hidden:  create_directory \"{install_dir}\", true\n"
        "         file_open \"{install_dir}\\hidden.txt\", write, CREATE_ALWAYS, $var9\n"
        "         file_close $var9\n"
        "         end\n"
        "changed: int_operation $var5, $var5, 1, add\n"
        "         section 2, set_name, \"Templates ({var5})\"\n"
        "         end\n"
        "hover:   send_message none, \"{main_window}\", 12, 0, \"" + kTitle + " - hover {var0}\"\n"
        "         end\n"
        "'''\n"
        "[installer]\npages = [\"components\", \"directory\"]\n"
        "default_install_dir = 'C:\\QmComponents\\" + std::string(stub_target()) + "'\n" + settings +
        "[callbacks]\non_selection_change = \"changed\"\non_mouse_over_section = \"hover\"\n"
        "[[sections]]\nname = \"!Program\"\ncode = \"prog\"\nread_only = true\ninstall_types = [0, 1]\n"
        "description = \"The program itself.\"\n"
        "[[sections]]\nname = \"-Extras\"\nexpanded = true\n"
        "[[sections]]\nname = \"Templates\"\ncode = \"tpl\"\ninstall_types = [0]\n"
        "description = \"Pages to start from.\"\n"
        "[[sections]]\nname = \"Documentation\"\ncode = \"doc\"\ninstall_types = [0]\n"
        "[[sections]]\nname = \"-\"\n"
        "[[sections]]\ncode = \"hidden\"\n"
        "[[languages]]\nid = 1033\ntexts = { caption = \"" + kCaption + "\" }\n");
}

TEST(ComponentsPage, ChoicesOnThePageReachTheInstallation) {
    const std::string exe = build("choices", "install_types = [\"Full\", \"Minimal\"]\n");
    ASSERT_FALSE(exe.empty());
    WineProcess installer(exe, {}, 180);
    const std::string shot = output_dir() + "/components-page.bmp";
    PageView first = view(installer, shot);
    std::cout << "screenshot: " << keep_screenshot(shot) << "\n";
    const std::vector<std::string> order = {"Program", "Extras", "Templates", "Documentation"};
    ASSERT_EQ(first.order, order) << first.report;
    EXPECT_TRUE(first.items["Program"].bold);
    EXPECT_EQ(first.image("Program"), 5) << "read-only and checked";
    EXPECT_TRUE(first.items["Extras"].children && first.items["Extras"].expanded);
    EXPECT_EQ(first.items["Templates"].depth, 1);
    EXPECT_EQ(first.image("Extras"), 2);
    EXPECT_EQ(first.types, (std::vector<std::string>{"Full", "Minimal", "Custom"}));
    EXPECT_EQ(first.type, 0);
    EXPECT_EQ(first.space.rfind("Space required: ", 0), 0u) << first.space;

    // Minimal: the extras go; a click on Documentation's box brings it back
    // and makes the choice a custom one.
    ASSERT_EQ(on_page(installer, {"choose", "--id", "1017", "Minimal"}).code, 0);
    PageView minimal = view(installer);
    EXPECT_EQ(minimal.image("Templates"), 1) << minimal.report;
    EXPECT_EQ(minimal.image("Documentation"), 1);
    EXPECT_EQ(minimal.image("Extras"), 1);
    DriverRun click = on_page(installer, {"treeclick", "--id", "1032", "Documentation"});
    ASSERT_EQ(click.code, 0) << click.report();
    PageView custom = view(installer);
    EXPECT_EQ(custom.image("Documentation"), 2) << custom.report;
    EXPECT_EQ(custom.image("Extras"), 3) << "one of two children checked";
    EXPECT_EQ(custom.type, 2);
    EXPECT_EQ(custom.image("Templates (1)"), 1) << "the change callback renamed the item through the page";

    // The read-only item does not change, and runs no callback.
    ASSERT_EQ(on_page(installer, {"treeclick", "--id", "1032", "Program"}).code, 0);
    PageView locked = view(installer);
    EXPECT_EQ(locked.image("Program"), 5) << locked.report;
    EXPECT_EQ(locked.image("Templates (1)"), 1) << "no second change";

    // The mouse over Templates: its description, and the script's own hover
    // callback with the section's index.
    DriverRun hover = on_page(installer, {"treehover", "--id", "1032", "Templates (1)", ":", "waittitle",
                                          kTitle + " - hover 2", ":", "waittext", "--id", "1043",
                                          "Pages to start from."});
    EXPECT_EQ(hover.code, 0) << hover.report();

    // The space key on the selected Documentation item: Minimal again.
    DriverRun key =
        on_page(installer, {"treeselect", "--id", "1032", "Documentation", ":", "key", "--id", "1032", "32"});
    ASSERT_EQ(key.code, 0) << key.report();
    PageView back = view(installer);
    EXPECT_EQ(back.image("Documentation"), 1) << back.report;
    EXPECT_EQ(back.type, 1) << "the boxes match Minimal again";

    // Templates checked by hand, then on to the directory page and install.
    ASSERT_EQ(on_page(installer, {"treeclick", "--id", "1032", "Templates (2)"}).code, 0);
    ASSERT_EQ(on_page(installer, {"press", "--id", "1"}).code, 0);
    const std::string folder = std::string("C:\\QmComponents\\Chosen-") + stub_target();
    std::filesystem::remove_all(drive_c_path(folder));
    DriverRun directory = drive({"wait", "--title", std::string(kCaption) + ": Installation Folder", "--class",
                                 "#32770", "--exe", installer.exe_name(), "--timeout", "30000", ":", "type", "--id",
                                 "1019", folder, ":", "press", "--id", "1"});
    ASSERT_EQ(directory.code, 0) << directory.report();
    ASSERT_EQ(press_wizard_button(installer, 1).code, 0);
    Exit exit = installer.wait(60);
    ASSERT_TRUE(exit.finished);
    EXPECT_EQ(exit.code, 0);
    EXPECT_TRUE(std::filesystem::exists(drive_c_path(folder + "\\prog.bin")));
    EXPECT_TRUE(std::filesystem::exists(drive_c_path(folder + "\\tpl.bin")));
    EXPECT_FALSE(std::filesystem::exists(drive_c_path(folder + "\\doc.bin"))) << "unchecked: not installed";
    EXPECT_TRUE(std::filesystem::exists(drive_c_path(folder + "\\hidden.txt"))) << "a hidden section keeps its bit";
}

// With fixed install types a click runs the change callback and the boxes
// go back to the type; with the tree for the custom entry only, the tree
// comes and goes with that entry.
TEST(ComponentsPage, FixedTypesAndTheCustomOnlyTree) {
    const std::string fixed = build("fixed", "install_types = [\"Full\", \"Minimal\"]\ninstall_type_mode = 1\n");
    ASSERT_FALSE(fixed.empty());
    {
        WineProcess installer(fixed, {}, 120);
        PageView first = view(installer);
        EXPECT_EQ(first.types, (std::vector<std::string>{"Full", "Minimal"})) << first.report;
        ASSERT_EQ(on_page(installer, {"treeclick", "--id", "1032", "Documentation"}).code, 0);
        PageView after = view(installer);
        EXPECT_EQ(after.image("Documentation"), 2) << after.report;
        EXPECT_EQ(after.image("Templates (1)"), 2) << "the callback ran, then the boxes went back to Full";
        ASSERT_EQ(on_page(installer, {"press", "--id", "2"}).code, 0);
        EXPECT_TRUE(installer.wait(60).finished);
    }
    const std::string custom = build("custom_tree", "install_types = [\"Full\", \"Minimal\"]\ninstall_type_mode = 2\n");
    ASSERT_FALSE(custom.empty());
    WineProcess installer(custom, {}, 120);
    // The combo box shows once the page is on screen; the tree stays hidden.
    DriverRun run = on_page(installer, {"visible", "--id", "1017", ":", "hidden", "--id", "1032", ":", "hidden",
                                        "--id", "1022", ":", "choose", "--id", "1017", "Custom", ":", "visible",
                                        "--id", "1032", ":", "visible", "--id", "1022", ":", "choose", "--id", "1017",
                                        "Minimal", ":", "hidden", "--id", "1032"});
    EXPECT_EQ(run.code, 0) << run.report();
    ASSERT_EQ(on_page(installer, {"press", "--id", "2"}).code, 0);
    EXPECT_TRUE(installer.wait(60).finished);
}

}  // namespace
