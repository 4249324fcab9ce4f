// The real main window under the real window services (Wine in CI), driven
// with messages. A watcher thread fails the run, rather than let it hang,
// when a modal box or dialog appears that no test asked for.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "app/main_window.h"
#include "test_support.h"

using namespace modtext;
using modtext::testing::RecordingReporter;

namespace {

DWORD g_test_thread = 0;
// A path the watcher types into the next file dialog before confirming it.
std::mutex g_answer_mutex;
std::string g_dialog_answer;

BOOL CALLBACK find_dialog(HWND window, LPARAM found) {
    char name[16] = {0};
    GetClassNameA(window, name, sizeof name);
    if (IsWindowVisible(window) && std::strcmp(name, "#32770") == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void watch_for_dialogs() {
    const DWORD start = GetTickCount();
    // A dialog answered stays visible until the test thread has handled the
    // answer, which on a busy machine takes longer than one look: it is not
    // another dialog. One answered while it was still being made may have
    // lost the answer: it is answered again after a while.
    HWND answered = nullptr;
    std::string answer;
    DWORD answered_at = 0;
    for (;;) {
        Sleep(50);
        if (GetTickCount() - start > 120000) {
            std::fprintf(stderr, "FAILED: the window tests did not finish in 120 s\n");
            std::fflush(stderr);
            ExitProcess(4);
        }
        HWND dialog = nullptr;
        EnumThreadWindows(g_test_thread, find_dialog, reinterpret_cast<LPARAM>(&dialog));
        if (dialog) {
            std::lock_guard<std::mutex> lock(g_answer_mutex);
            if (!g_dialog_answer.empty()) {
                // The file name box of the explorer-style dialogs.
                answer = g_dialog_answer;
                SetDlgItemTextA(dialog, 0x47C, answer.c_str());
                g_dialog_answer.clear();
                PostMessageA(dialog, WM_COMMAND, IDOK, 0);
                answered = dialog;
                answered_at = GetTickCount();
                continue;
            }
            if (dialog == answered) {
                if (GetTickCount() - answered_at > 1000) {
                    SetDlgItemTextA(dialog, 0x47C, answer.c_str());
                    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
                    answered_at = GetTickCount();
                }
                continue;
            }
            char title[256] = {0};
            GetWindowTextA(dialog, title, sizeof title);
            std::fprintf(stderr, "FAILED: a modal box or dialog appeared: \"%s\"\n", title);
            std::fflush(stderr);
            ExitProcess(3);
        }
    }
}

void pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

std::string class_of(HWND window) {
    char name[64] = {0};
    GetClassNameA(window, name, sizeof name);
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::string text_of(HWND window) {
    char text[512] = {0};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

RECT rect_in_parent(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void click(const Control& control) {
    SendMessageA(control.window_handle(), BM_CLICK, 0, 0);
}

struct Window {
    RecordingReporter reporter;
    MainWindow main{GetModuleHandleA(nullptr), reporter};
    Window() {
        main.build_controls();
        pump();
    }
};

struct Row {
    const char* kind;  // window class
    const char* caption;
    int x, y, width, height;
    DWORD style, ex_style;
};

constexpr DWORD group = 0x50000007, label = 0x50000000, edit = 0x50010080, button = 0x50010000,
                check = 0x50010003, combo = 0x50210002;

// The window's layout, control by control in creation order.
const Row layout[37] = {
    {"button", "Input/Output files", 5, 5, 180, 210, group, 0},
    {"static", "Source mod file", 20, 25, 150, 15, label, 0},
    {"edit", "", 20, 40, 130, 20, edit, 0x200},
    {"button", "...", 150, 40, 20, 20, button, 0},
    {"static", "Export/Import text file", 20, 70, 150, 15, label, 0},
    {"edit", "", 20, 85, 130, 20, edit, 0x200},
    {"button", "...", 150, 85, 20, 20, button, 0},
    {"static", "Output mod file", 20, 115, 150, 15, label, 0},
    {"edit", "", 20, 130, 130, 20, edit, 0x200},
    {"button", "...", 150, 130, 20, 20, button, 0},
    {"static", "Export filter", 20, 160, 150, 15, label, 0},
    {"combobox", "", 20, 175, 150, 150, combo, 0x200},
    {"button", "Translate from/Import", 190, 5, 130, 180, group, 0},
    {"button", "English", 200, 25, 80, 15, check, 0},
    {"button", "French", 200, 40, 80, 15, check, 0},
    {"button", "German", 200, 55, 80, 15, check, 0},
    {"button", "Italian", 200, 70, 80, 15, check, 0},
    {"button", "Spanish", 200, 85, 80, 15, check, 0},
    {"button", "Polish", 200, 100, 80, 15, check, 0},
    {"button", "Korean", 200, 115, 80, 15, check, 0},
    {"button", "Chinese Trad.", 200, 130, 100, 15, check, 0},
    {"button", "Chinese Simpl.", 200, 145, 100, 15, check, 0},
    {"button", "Japanese", 200, 160, 80, 15, check, 0},
    {"button", "Translate to", 325, 5, 130, 180, group, 0},
    {"button", "English", 335, 25, 80, 15, check, 0},
    {"button", "French", 335, 40, 80, 15, check, 0},
    {"button", "German", 335, 55, 80, 15, check, 0},
    {"button", "Italian", 335, 70, 80, 15, check, 0},
    {"button", "Spanish", 335, 85, 80, 15, check, 0},
    {"button", "Polish", 335, 100, 80, 15, check, 0},
    {"button", "Korean", 335, 115, 80, 15, check, 0},
    {"button", "Chinese Trad.", 335, 130, 100, 15, check, 0},
    {"button", "Chinese Simpl.", 335, 145, 100, 15, check, 0},
    {"button", "Japanese", 335, 160, 80, 15, check, 0},
    {"button", "Import", 197, 190, 80, 25, button, 0},
    {"button", "Export", 282, 190, 80, 25, button, 0},
    {"button", "Exit", 367, 190, 80, 25, button, 0},
};

}  // namespace

TEST(MainWindow, ControlsStandWhereTheLayoutPutsThem) {
    Window w;
    const HWND frame = w.main.frame().window_handle();
    EXPECT_EQ(class_of(frame), "xkwindow");
    EXPECT_EQ(text_of(frame), std::string("ModText ") + MODTEXT_VERSION);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(frame, GWL_STYLE)) & WS_OVERLAPPEDWINDOW,
              static_cast<DWORD>(WS_OVERLAPPEDWINDOW));
    RECT outer;
    GetWindowRect(frame, &outer);
    EXPECT_EQ(outer.right - outer.left, 470);
    EXPECT_EQ(outer.bottom - outer.top, 250);

    const auto& children = w.main.frame().children();
    ASSERT_EQ(children.size(), 37u);
    for (std::size_t i = 0; i < 37; ++i) {
        const Row& row = layout[i];
        const HWND child = children[i]->window_handle();
        SCOPED_TRACE("control " + std::to_string(i + 1) + " " + row.caption);
        EXPECT_EQ(class_of(child), row.kind);
        EXPECT_EQ(GetParent(child), frame);
        EXPECT_EQ(GetDlgCtrlID(child), 0);
        const auto style = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
        const auto ex_style = static_cast<DWORD>(GetWindowLongA(child, GWL_EXSTYLE));
        if (row.style == combo) {
            // The combo box keeps its scroll bar and edge to itself: the
            // platform does not show them in its styles.
            EXPECT_EQ(style & row.style, row.style & ~static_cast<DWORD>(WS_VSCROLL));
        } else {
            EXPECT_EQ(style & row.style, row.style);
            EXPECT_EQ(ex_style & 0x200, row.ex_style);
        }
        EXPECT_EQ(style & (WS_TABSTOP | 0xFFFF) & ~static_cast<DWORD>(CBS_HASSTRINGS),
                  row.style & (WS_TABSTOP | 0xFFFF));
        if (row.style != combo) {
            EXPECT_EQ(text_of(child), row.caption);
        }
        const RECT rect = rect_in_parent(child);
        EXPECT_EQ(rect.left, row.x);
        EXPECT_EQ(rect.top, row.y);
        EXPECT_EQ(rect.right - rect.left, row.width);
        if (row.style == combo) {
            // The height given is that of the box with its list open; the
            // platform trims the list to whole items.
            RECT dropped;
            SendMessageA(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
            MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&dropped), 2);
            EXPECT_EQ(dropped.top, row.y);
            EXPECT_LE(dropped.bottom - dropped.top, row.height);
            EXPECT_GT(dropped.bottom - dropped.top, row.height - 30);
        } else {
            EXPECT_EQ(rect.bottom - rect.top, row.height);
        }
        // Every control takes the frame's font.
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0)), w.main.frame().font());
    }
    LOGFONTA font{};
    ASSERT_NE(GetObjectA(w.main.frame().font(), sizeof font, &font), 0);
    EXPECT_EQ(font.lfHeight, 15);
    EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");
}

TEST(MainWindow, StartsWithEnglishToTranslateFromAndTheWholeModule) {
    Window w;
    // The keyboard starts in the source module's box.
    EXPECT_EQ(GetFocus(), w.main.source_edit->window_handle());
    for (EditBox* box : {w.main.source_edit, w.main.text_edit, w.main.output_edit}) {
        EXPECT_EQ(box->get_text(260), "");
    }
    for (std::size_t row = 0; row < language_count; ++row) {
        EXPECT_EQ(w.main.from_boxes[row]->is_checked(), row == 0) << row;
        EXPECT_FALSE(w.main.to_boxes[row]->is_checked()) << row;
    }
    EXPECT_EQ(w.main.filter_combo->get_selection(), 0);
    EXPECT_EQ(text_of(w.main.filter_combo->window_handle()), "All files in the MOD");
    EXPECT_EQ(SendMessageA(w.main.filter_combo->window_handle(), CB_GETCOUNT, 0, 0), 7);
    char item[64];
    SendMessageA(w.main.filter_combo->window_handle(), CB_GETLBTEXT, 6, reinterpret_cast<LPARAM>(item));
    EXPECT_STREQ(item, "Scripts (nss)");
}

TEST(MainWindow, ButtonsCaptureTheSelectionEvenWhenThePathsAreRefused) {
    {
        Window w;
        click(*w.main.export_button);
        EXPECT_EQ(w.main.selection().from_mask, 0x001);
        EXPECT_EQ(w.main.selection().to_mask, 0);
        EXPECT_EQ(w.main.selection().filter, 0);
        EXPECT_EQ(w.reporter.error_boxes, std::vector<std::string>{"Please give a source MOD file."});
    }
    Window w;
    click(*w.main.from_boxes[5]);
    click(*w.main.to_boxes[6]);
    click(*w.main.to_boxes[9]);
    w.main.filter_combo->set_selection(3);
    click(*w.main.import_button);
    EXPECT_EQ(w.main.selection().from_mask, 0x021);
    EXPECT_EQ(w.main.selection().to_mask, 0x240);
    EXPECT_EQ(w.main.selection().filter, 3);
    // Unchecking again, and a filter typed rather than chosen: no row selected.
    click(*w.main.to_boxes[9]);
    SetWindowTextA(w.main.filter_combo->window_handle(), "typed");
    w.main.filter_combo->set_selection(-1);
    w.main.source_edit->set_text("ab");
    click(*w.main.import_button);
    EXPECT_EQ(w.main.selection().to_mask, 0x040);
    EXPECT_EQ(w.main.selection().filter, -1);
    EXPECT_EQ(w.reporter.error_boxes,
              (std::vector<std::string>{"Please give a source MOD file.", "Please give a text file to import from."}));
}

TEST(MainWindow, ExportAndImportRunTheRealActions) {
    const auto dir = modtext::testing::scratch_dir();
    const std::string source = (dir / "m.mod").string(), text = (dir / "t.txt").string(),
                      output = (dir / "o.mod").string();
    build::write_file(source, build::synthetic_module(1));
    Window w;
    w.main.source_edit->set_text(source);
    w.main.text_edit->set_text(text);
    click(*w.main.to_boxes[1]);
    click(*w.main.export_button);  // the output box is empty and not needed
    EXPECT_EQ(w.reporter.info_boxes, std::vector<std::string>{"Export complete!"});
    const std::string exported = modtext::testing::read_text(text);
    EXPECT_NE(exported.find("#File:dlg_innkeeper.DLG,4\n"), std::string::npos);
    EXPECT_NE(exported.find(",french,female->\n"), std::string::npos);
    EXPECT_EQ(exported.find('\r'), std::string::npos);  // no line-end translation

    w.main.output_edit->set_text(output);
    click(*w.main.import_button);
    EXPECT_EQ(w.reporter.info_boxes, (std::vector<std::string>{"Export complete!", "Import complete!"}));
    EXPECT_TRUE(std::filesystem::exists(output));

    // Only scripts, and the two always-exported types.
    w.main.filter_combo->set_selection(6);
    click(*w.main.export_button);
    const std::string scripts = modtext::testing::read_text(text);
    EXPECT_NE(scripts.find(".NSS,"), std::string::npos);
    EXPECT_EQ(scripts.find(".DLG,"), std::string::npos);
    EXPECT_NE(scripts.find(".UTI,"), std::string::npos);
}

TEST(MainWindow, PickersFillTheirBoxOnlyWhenConfirmed) {
    const auto dir = modtext::testing::scratch_dir();
    const std::string path = (dir / "chosen.mod").make_preferred().string();
    build::write_file(path, build::synthetic_module(1));
    Window w;
    {
        std::lock_guard<std::mutex> lock(g_answer_mutex);
        g_dialog_answer = path;
    }
    click(*w.main.source_browse);
    EXPECT_EQ(w.main.source_edit->get_text(), path);
    EXPECT_EQ(w.main.text_edit->get_text(), "");
    // A name typed without an extension in the output's picker gets "mod".
    // (Wine's open dialogs look for the name as typed, so the open pickers'
    // own extensions cannot be seen at work here.)
    {
        std::lock_guard<std::mutex> lock(g_answer_mutex);
        g_dialog_answer = (dir / "translated").make_preferred().string();
    }
    click(*w.main.output_browse);
    EXPECT_EQ(w.main.output_edit->get_text(), (dir / "translated.mod").make_preferred().string());
}

TEST(EditBox, TextIsCutToTheCapacity) {
    Window w;
    const std::string long_path(300, 'p');
    w.main.source_edit->set_text(long_path);
    EXPECT_EQ(w.main.source_edit->get_text(260), long_path.substr(0, 259));
    EXPECT_EQ(w.main.source_edit->get_text(), long_path);
    CheckBox& box = *w.main.to_boxes[2];
    box.set_checked(true);
    EXPECT_TRUE(box.is_checked());
    box.set_checked(false);
    EXPECT_FALSE(box.is_checked());
}

TEST(FrameWindow, TabAndShiftTabVisitTheTabStopsInCreationOrder) {
    Window w;
    std::vector<HWND> stops;
    for (const auto& child : w.main.frame().children()) {
        if (GetWindowLongA(child->window_handle(), GWL_STYLE) & WS_TABSTOP) stops.push_back(child->window_handle());
    }
    ASSERT_EQ(stops.size(), 3u * 2 + 1 + 20 + 3);
    EXPECT_EQ(stops[0], w.main.source_edit->window_handle());
    EXPECT_EQ(stops[1], w.main.source_browse->window_handle());
    EXPECT_EQ(stops[2], w.main.text_edit->window_handle());

    const auto focused_top = [] {
        HWND focus = GetFocus();
        // The combo box's edit field has the focus on its behalf.
        char name[32] = {0};
        GetClassNameA(GetParent(focus), name, sizeof name);
        return class_of(GetParent(focus)) == "combobox" ? GetParent(focus) : focus;
    };
    const auto press_tab = [&w](bool shift) {
        BYTE keys[256];
        GetKeyboardState(keys);
        keys[VK_SHIFT] = shift ? 0x80 : 0;
        SetKeyboardState(keys);
        MSG message{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
        w.main.frame().process_message(message);
        pump();
    };
    SetFocus(stops[0]);
    for (std::size_t i = 1; i <= stops.size(); ++i) {
        press_tab(false);
        EXPECT_EQ(focused_top(), stops[i % stops.size()]) << "forward " << i;
    }
    for (std::size_t i = stops.size(); i-- > 0;) {
        press_tab(true);
        EXPECT_EQ(focused_top(), stops[i]) << "backward " << i;
    }
    press_tab(false);
    // Without Tab navigation the key is only translated and dispatched.
    w.main.frame().set_tab_navigation(false);
    SetFocus(stops[1]);
    press_tab(false);
    EXPECT_EQ(GetFocus(), stops[1]);
}

TEST(FrameWindow, ExitEndsTheLoopWithZero) {
    Window w;
    click(*w.main.exit_button);
    EXPECT_FALSE(IsWindow(w.main.frame().window_handle()));
    EXPECT_EQ(w.main.run(), 0);
}

namespace {

struct Spy : WindowListener {
    std::vector<std::pair<Control*, WPARAM>> commands;
    std::vector<WORD> menu;
    void on_command(Control* child, WPARAM wp, LPARAM) override { commands.emplace_back(child, wp); }
    void on_menu_command(WORD id) override { menu.push_back(id); }
};

}  // namespace

TEST(FrameWindow, CommandsReachTheListenerOnlyFromItsOwnControls) {
    FrameWindow frame(GetModuleHandleA(nullptr));
    frame.create_window(0, 0, 200, 100);
    frame.set_font(15);
    Spy spy;
    frame.set_listener(&spy);
    PushButton& a = add_control<PushButton>(frame, 0, 0, 50, 20, "a");
    Label& stranger_owner = add_control<Label>(frame, 0, 30, 50, 20, "x");
    (void)stranger_owner;
    FrameWindow other(GetModuleHandleA(nullptr));
    other.create_window(0, 0, 100, 100);
    PushButton& foreign = add_control<PushButton>(other, 0, 0, 50, 20, "f");

    const HWND window = frame.window_handle();
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(foreign.window_handle()));
    EXPECT_TRUE(spy.commands.empty());
    click(a);
    ASSERT_EQ(spy.commands.size(), 1u);
    EXPECT_EQ(spy.commands[0].first, &a);
    // An accelerator: no control, the listener still hears it.
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(7, 1), 0);
    ASSERT_EQ(spy.commands.size(), 2u);
    EXPECT_EQ(spy.commands[1].first, nullptr);
    // Menu commands: the window-menu ones go to default processing only.
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(0xF060, 0), 0);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(42, 0), 0);
    EXPECT_EQ(spy.menu, std::vector<WORD>{42});
    EXPECT_TRUE(IsWindow(window));
    // Logging off is never refused.
    EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, 0), TRUE);

    ComboBox& combo = add_control<ComboBox>(frame, 0, 60, 100, 100);
    EXPECT_EQ(combo.get_selection(), -1);
    for (const char* item : {"one", "two", "three"}) combo.add_item(item);
    combo.set_selection(0);
    EXPECT_EQ(text_of(combo.window_handle()), "one");
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    g_test_thread = GetCurrentThreadId();
    std::thread(watch_for_dialogs).detach();
    return RUN_ALL_TESTS();
}
