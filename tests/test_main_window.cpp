// The real main window under the real window services (Wine in CI), driven
// with messages. A watcher thread fails the run, rather than let it hang,
// when a modal box or dialog appears that no test asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "app/main_window.h"
#include "test_support.h"

using namespace modtext;
using modtext::testing::RecordingReporter;

namespace {

DWORD g_test_thread = 0;

// What the watcher saw of a dialog or box it answered.
struct Seen {
    std::string title;
    std::string text;    // a box's message, or a file dialog's file type
    std::string icon;    // a box's icon: "error", "warning", "information", "none"
};

// What the tests ask the watcher to do with the next dialogs, and what it saw.
struct Watch {
    std::mutex mutex;
    // Paths to type into the next file dialogs before confirming them; an
    // empty one cancels the dialog.
    std::deque<std::string> answers;
    std::size_t boxes_to_close = 0;  // message boxes to confirm
    DWORD other_process = 0;         // whose dialogs are watched beside this thread's
    std::vector<Seen> seen;
};
Watch g_watch;

void expect_answer(std::string answer) {
    std::lock_guard<std::mutex> lock(g_watch.mutex);
    g_watch.answers.push_back(std::move(answer));
}

void expect_boxes(std::size_t count) {
    std::lock_guard<std::mutex> lock(g_watch.mutex);
    g_watch.boxes_to_close += count;
}

std::vector<Seen> take_seen() {
    std::lock_guard<std::mutex> lock(g_watch.mutex);
    return std::exchange(g_watch.seen, {});
}

bool is_visible_dialog(HWND window) {
    char name[16] = {0};
    GetClassNameA(window, name, sizeof name);
    return IsWindowVisible(window) && std::strcmp(name, "#32770") == 0;
}

BOOL CALLBACK find_dialog(HWND window, LPARAM found) {
    if (!is_visible_dialog(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

BOOL CALLBACK find_dialog_of_other_process(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != g_watch.other_process || !is_visible_dialog(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

std::string item_text(HWND dialog, int id) {
    char text[2048] = {0};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// The file type a file dialog offers first.
std::string text_of_type_list(HWND dialog) {
    char text[256] = {0};
    const HWND list = GetDlgItem(dialog, 0x470);
    const LRESULT row = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (row >= 0) SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text));
    return text;
}

// The icon a message box shows, told by the system icon it was given.
std::string box_icon(HWND box) {
    const HWND icon = GetDlgItem(box, 0x440);  // the box's icon control
    if (!icon || !IsWindowVisible(icon)) return "none";
    const auto shown = reinterpret_cast<HICON>(SendMessageA(icon, STM_GETICON, 0, 0));
    if (!shown) return "none";  // Wine leaves the empty icon control shown
    if (shown == LoadIconA(nullptr, IDI_HAND)) return "error";
    if (shown == LoadIconA(nullptr, IDI_EXCLAMATION)) return "warning";
    if (shown == LoadIconA(nullptr, IDI_ASTERISK)) return "information";
    return "other";
}

// Answers the dialog the tests asked for: a file dialog gets the next
// answer, a message box its OK. Anything else fails the run.
bool answer(HWND dialog, std::string& typed) {
    std::lock_guard<std::mutex> lock(g_watch.mutex);
    char title[256] = {0};
    GetWindowTextA(dialog, title, sizeof title);
    const bool file_dialog = GetDlgItem(dialog, 0x470) != nullptr;  // its file type list
    if (file_dialog && !g_watch.answers.empty()) {
        typed = g_watch.answers.front();
        g_watch.answers.pop_front();
        g_watch.seen.push_back({title, text_of_type_list(dialog), ""});
        if (typed.empty()) {
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        } else {
            SetDlgItemTextA(dialog, 0x47C, typed.c_str());  // the file name box
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        }
        return true;
    }
    if (!file_dialog && g_watch.boxes_to_close > 0) {
        --g_watch.boxes_to_close;
        typed.clear();
        g_watch.seen.push_back({title, item_text(dialog, 0xFFFF), box_icon(dialog)});
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        return true;
    }
    std::fprintf(stderr, "FAILED: a modal box or dialog appeared: \"%s\" (%s)\n", title,
                 item_text(dialog, 0xFFFF).c_str());
    std::fflush(stderr);
    ExitProcess(3);
}

// When the running test started: each test has its own time bound, so a
// slow machine does not fail a suite that is only long.
std::atomic<DWORD> g_test_started{0};

struct TestClock : ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { g_test_started = GetTickCount(); }
};

void watch_for_dialogs() {
    // A dialog answered stays visible until its thread has handled the
    // answer, which on a busy machine takes longer than one look: it is not
    // another dialog. One answered while it was still being made may have
    // lost the answer: it is answered again after a while.
    HWND answered = nullptr;
    std::string typed;
    DWORD answered_at = 0;
    for (;;) {
        Sleep(50);
        if (GetTickCount() - g_test_started > 120000) {
            std::fprintf(stderr, "FAILED: a window test did not finish in 120 s\n");
            std::fflush(stderr);
            ExitProcess(4);
        }
        HWND dialog = nullptr;
        EnumThreadWindows(g_test_thread, find_dialog, reinterpret_cast<LPARAM>(&dialog));
        if (!dialog && g_watch.other_process) {
            EnumWindows(find_dialog_of_other_process, reinterpret_cast<LPARAM>(&dialog));
        }
        if (!dialog) continue;
        if (dialog == answered) {
            if (GetTickCount() - answered_at > 1000) {
                if (!typed.empty()) SetDlgItemTextA(dialog, 0x47C, typed.c_str());
                PostMessageA(dialog, WM_COMMAND, typed.empty() && GetDlgItem(dialog, 0x470) ? IDCANCEL : IDOK, 0);
                answered_at = GetTickCount();
            }
            continue;
        }
        answer(dialog, typed);
        answered = dialog;
        answered_at = GetTickCount();
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

// The main window with a reporter that records, or with the program's own,
// whose boxes the watcher answers.
template <typename R>
struct WindowWith {
    R reporter;
    MainWindow main{GetModuleHandleA(nullptr), reporter};
    WindowWith() {
        main.build_controls();
        pump();
    }
};
using Window = WindowWith<RecordingReporter>;

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

// The style bits the platform sets or clears itself, left out of the
// comparison: a combo box takes its scroll bar (WS_VSCROLL) and its sunken
// edge (WS_EX_CLIENTEDGE) to its own parts and marks that it keeps strings
// (CBS_HASSTRINGS). Every other bit of every control is compared.
DWORD platform_style_bits(DWORD style) {
    return style == combo ? WS_VSCROLL | CBS_HASSTRINGS : 0;
}
DWORD platform_ex_style_bits(DWORD style) { return style == combo ? WS_EX_CLIENTEDGE : 0; }

}  // namespace

TEST(MainWindow, ControlsStandWhereTheLayoutPutsThem) {
    Window w;
    const HWND frame = w.main.frame().window_handle();
    EXPECT_EQ(class_of(frame), "xkwindow");
    EXPECT_EQ(text_of(frame), std::string("ModText ") + MODTEXT_VERSION);
    // Shown, and nothing but the overlapped window's own bits (and those of
    // its state: clipping of its siblings, visibility).
    EXPECT_TRUE(IsWindowVisible(frame));
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(frame, GWL_STYLE)) & ~static_cast<DWORD>(WS_CLIPSIBLINGS),
              static_cast<DWORD>(WS_OVERLAPPEDWINDOW | WS_VISIBLE));
    // The classic frame holds the layout at the window's first size.
    RECT outer, client;
    GetWindowRect(frame, &outer);
    GetClientRect(frame, &client);
    EXPECT_EQ(outer.right - outer.left, 470);
    EXPECT_EQ(outer.bottom - outer.top, 250);
    EXPECT_GE(client.right, 460);
    EXPECT_GE(client.bottom, 220);

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
        EXPECT_EQ(style & ~platform_style_bits(row.style), row.style & ~platform_style_bits(row.style))
            << std::hex << style;
        EXPECT_EQ(ex_style & ~platform_ex_style_bits(row.style), row.ex_style & ~platform_ex_style_bits(row.style))
            << std::hex << ex_style;
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

TEST(MainWindow, AThickerFrameGrowsTheWindowUntilItsClientAreaHoldsTheLayout) {
    // Frames as current Windows versions draw them: wider borders, a taller
    // caption. Set for this process only, and put back.
    NONCLIENTMETRICSA classic{};
    classic.cbSize = sizeof classic;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof classic, &classic, 0));
    NONCLIENTMETRICSA thick = classic;
    thick.iBorderWidth += 4;
    thick.iCaptionHeight += 8;
    ASSERT_TRUE(SystemParametersInfoA(SPI_SETNONCLIENTMETRICS, sizeof thick, &thick, 0));
    const SIZE needed = platform::outer_size_for_client(WS_OVERLAPPEDWINDOW, 0, 460, 220);
    RECT outer{}, client{};
    {
        Window w;
        GetWindowRect(w.main.frame().window_handle(), &outer);
        GetClientRect(w.main.frame().window_handle(), &client);
    }
    SystemParametersInfoA(SPI_SETNONCLIENTMETRICS, sizeof classic, &classic, 0);
    // The layout reaches 455 x 215; with its margin of 5 the client area
    // must be 460 x 220, which 470 x 250 no longer holds.
    ASSERT_GT(needed.cy, 250) << "the thicker metrics did not take";
    EXPECT_EQ(outer.right - outer.left, std::max<LONG>(470, needed.cx));
    EXPECT_EQ(outer.bottom - outer.top, needed.cy);
    EXPECT_GE(client.right, 460);
    EXPECT_GE(client.bottom, 220);
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
    const char* const captions[] = {"All files in the MOD", "Area files (are)",
                                    "Conversation files (dlg)", "Game instance files (git)",
                                    "Info files (ifo)", "Journal files (jrl)", "Scripts (nss)"};
    const HWND combo = w.main.filter_combo->window_handle();
    ASSERT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 7);
    for (WPARAM row = 0; row < 7; ++row) {
        char item[64] = {0};
        SendMessageA(combo, CB_GETLBTEXT, row, reinterpret_cast<LPARAM>(item));
        EXPECT_STREQ(item, captions[row]);
    }
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

TEST(MainWindow, APoPathExportsAndImportsACatalogueOfTheFirstTickedLanguages) {
    const auto dir = modtext::testing::scratch_dir();
    const std::string source = (dir / "m.mod").string(), po = (dir / "t.po").string(),
                      output = (dir / "o.mod").string();
    build::write_file(source, build::synthetic_module(1));
    Window w;
    w.main.source_edit->set_text(source);
    w.main.text_edit->set_text(po);
    click(*w.main.to_boxes[2]);  // German, then French: the first in table order counts
    click(*w.main.to_boxes[1]);
    click(*w.main.export_button);
    EXPECT_EQ(w.reporter.info_boxes, std::vector<std::string>{"Export complete!"});
    std::string catalogue = modtext::testing::read_text(po);
    EXPECT_NE(catalogue.find("\"Language: fr\\n\"\n"), std::string::npos);
    EXPECT_NE(catalogue.find("\"X-Source-Language: english\\n\"\n"), std::string::npos);

    // A translated entry comes back into the module, and out again.
    const std::string entry = "msgctxt \"dlg_innkeeper.DLG:";
    const std::size_t at = catalogue.find(entry);
    ASSERT_NE(at, std::string::npos);
    const std::size_t msgstr = catalogue.find("msgstr \"", at);
    const std::size_t end = std::min(catalogue.find("\n\n", msgstr), catalogue.size());
    const std::string context = catalogue.substr(at, catalogue.find('\n', at) - at);
    catalogue.replace(msgstr, end - msgstr, "msgstr \"Bonsoir, voyageur.\"");
    modtext::testing::write_text(po, catalogue);
    w.main.output_edit->set_text(output);
    click(*w.main.import_button);
    EXPECT_EQ(w.reporter.info_boxes, (std::vector<std::string>{"Export complete!", "Import complete!"}));
    w.main.source_edit->set_text(output);
    w.main.text_edit->set_text((dir / "again.po").string());
    click(*w.main.export_button);
    const std::string again = modtext::testing::read_text(dir / "again.po");
    const std::size_t found = again.find(context + "\n");
    ASSERT_NE(found, std::string::npos);
    EXPECT_NE(again.find("msgstr \"Bonsoir, voyageur.\"", found), std::string::npos);
}

TEST(MainWindow, PickersFillTheirBoxOnlyWhenConfirmed) {
    const auto dir = modtext::testing::scratch_dir();
    const std::string chosen = (dir / "chosen.mod").make_preferred().string();
    const std::string notes = (dir / "notes.txt").make_preferred().string();
    build::write_file(chosen, build::synthetic_module(1));
    modtext::testing::write_text(notes, "");
    Window w;
    w.main.text_edit->set_text("kept");
    expect_answer(chosen);
    click(*w.main.source_browse);
    expect_answer("");  // cancelled: the box keeps its text
    click(*w.main.text_browse);
    EXPECT_EQ(w.main.text_edit->get_text(), "kept");
    expect_answer(notes);
    click(*w.main.text_browse);
    // A name typed without an extension in the output's picker gets "mod".
    // (Wine's open dialogs look for the name as typed, so the open pickers'
    // own extensions cannot be seen at work here.)
    expect_answer((dir / "translated").make_preferred().string());
    click(*w.main.output_browse);

    EXPECT_EQ(w.main.source_edit->get_text(), chosen);
    EXPECT_EQ(w.main.text_edit->get_text(), notes);
    EXPECT_EQ(w.main.output_edit->get_text(), (dir / "translated.mod").make_preferred().string());
    const std::vector<Seen> seen = take_seen();
    ASSERT_EQ(seen.size(), 4u);
    const char* const expected[4][2] = {{"Open", "Mod files(*.MOD)"},
                                        {"Open", "Text files(*.TXT)"},
                                        {"Open", "Text files(*.TXT)"},
                                        {"Save As", "Mod files(*.MOD)"}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(seen[i].title, expected[i][0]) << i;
        EXPECT_EQ(seen[i].text, expected[i][1]) << i;
    }
}

TEST(MainWindow, AnActionsErrorsAndWarningsComeInOneBoxEachBeforeItsCompletion) {
    const auto dir = modtext::testing::scratch_dir();
    const std::string source = (dir / "m.mod").string(), damaged = (dir / "damaged.mod").string(),
                      text = (dir / "t.txt").string(), output = (dir / "o.mod").string();
    build::write_file(source, build::synthetic_module(1));
    modtext::testing::write_text(damaged, "MOD V1.0 but nothing after it");
    std::string lines = "#File:dlg_innkeeper.DLG,4\n\n";
    for (int i = 0; i < 30; ++i) lines += "#not a line of the format\n";
    modtext::testing::write_text(text, lines);
    WindowWith<MessageBoxReporter> w;
    const auto press = [&w](Control& button, std::size_t boxes) {
        expect_boxes(boxes);
        click(button);
        return take_seen();
    };

    // A missing path keeps its plain box.
    std::vector<Seen> seen = press(*w.main.export_button, 1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].title, "Error");
    EXPECT_EQ(seen[0].text, "Please give a source MOD file.");
    EXPECT_EQ(seen[0].icon, "none");

    // A module that is not there, or damaged: the error, and nothing else.
    for (const std::string& module : {(dir / "missing.mod").string(), damaged}) {
        w.main.source_edit->set_text(module);
        w.main.text_edit->set_text((dir / "out.txt").string());
        seen = press(*w.main.export_button, 1);
        ASSERT_EQ(seen.size(), 1u) << module;
        EXPECT_EQ(seen[0].title, "Error");
        EXPECT_EQ(seen[0].icon, "error");
        EXPECT_NE(seen[0].text.find(module), std::string::npos) << seen[0].text;
        EXPECT_FALSE(std::filesystem::exists(dir / "out.txt"));
    }

    // Thirty invalid lines: twenty shown and one that counts the rest, of
    // which the box shows fifteen; then the import's completion.
    w.main.source_edit->set_text(source);
    w.main.text_edit->set_text(text);
    w.main.output_edit->set_text(output);
    seen = press(*w.main.import_button, 2);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].title, "Warning");
    EXPECT_EQ(seen[0].icon, "warning");
    EXPECT_EQ(seen[0].text.rfind("WARNING: Invalid String on line 3! (", 0), 0u) << seen[0].text;
    EXPECT_EQ(std::count(seen[0].text.begin(), seen[0].text.end(), '\n'), 15);
    EXPECT_EQ(seen[0].text.substr(seen[0].text.rfind('\n')), "\n... and 6 more");
    EXPECT_EQ(seen[1].title, "Info");
    EXPECT_EQ(seen[1].text, "Import complete!");
    EXPECT_EQ(seen[1].icon, "information");

    // The types export does not visit are no warning about the user's
    // files: the module holds some, and only the completion shows.
    w.main.text_edit->set_text((dir / "exported.txt").string());
    seen = press(*w.main.export_button, 1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "Export complete!");
}

TEST(MainWindow, APathLongerThanTheWindowTakesIsRefused) {
    const auto dir = modtext::testing::scratch_dir();
    Window w;
    // 259 bytes reach the action, which cannot open them; 260 are refused
    // before, rather than cut to another name.
    for (const std::size_t length : {259u, 260u}) {
        const std::string path = (dir / std::string(length - dir.string().size() - 1, 'p')).string();
        ASSERT_EQ(path.size(), length);
        w.reporter.problems.clear();
        w.main.source_edit->set_text(path);
        w.main.text_edit->set_text((dir / "t.txt").string());
        click(*w.main.export_button);
        const bool refused = w.reporter.problems.find("is " + std::to_string(length) +
                                                      " bytes long; the window takes paths of at most 259 bytes!") !=
                             std::string::npos;
        EXPECT_EQ(refused, length == 260) << w.reporter.problems;
        if (refused) {
            EXPECT_EQ(w.reporter.problems.find("Error opening"), std::string::npos);
        }
    }
    for (EditBox* box : {w.main.text_edit, w.main.output_edit}) {
        w.reporter.problems.clear();
        w.main.source_edit->set_text((dir / "m.mod").string());
        w.main.text_edit->set_text((dir / "t.txt").string());
        w.main.output_edit->set_text((dir / "o.mod").string());
        box->set_text(std::string(300, 'q'));
        click(*w.main.import_button);
        EXPECT_NE(w.reporter.problems.find("is 300 bytes long"), std::string::npos);
    }
    EXPECT_TRUE(modtext::testing::files_in(dir).empty());
}

TEST(MainWindow, EachPickerHasItsKindFileTypesAndDefaultExtension) {
    // Wine's dialogs put the file type's extension on a typed name before the
    // default one, so the default extensions are checked here, where each
    // button's dialog is chosen.
    Window w;
    struct Expected {
        PushButton* button;
        EditBox* box;
        bool save;
        std::string_view filter, extension;
    };
    using namespace std::string_view_literals;
    const Expected expected[] = {
        {w.main.source_browse, w.main.source_edit, false, "Mod files(*.MOD)\0*.mod\0\0"sv, "mod"},
        {w.main.text_browse, w.main.text_edit, false, "Text files(*.TXT)\0*.txt\0PO files (*.po)\0*.po\0\0"sv, "txt"},
        {w.main.output_browse, w.main.output_edit, true, "Mod files(*.MOD)\0*.mod\0\0"sv, "mod"},
    };
    for (const Expected& e : expected) {
        const MainWindow::Picker picker = w.main.picker_of(e.button);
        SCOPED_TRACE(std::string(e.extension));
        EXPECT_EQ(picker.box, e.box);
        EXPECT_EQ(picker.save, e.save);
        ASSERT_NE(picker.filter, nullptr);
        // A filter is pairs of strings, ended by an empty one.
        EXPECT_EQ(std::string_view(picker.filter, e.filter.size()), e.filter);
        EXPECT_STREQ(picker.default_extension, std::string(e.extension).c_str());
    }
    EXPECT_EQ(w.main.picker_of(w.main.export_button).box, nullptr);
}

TEST(Platform, FileDialogRecordIsTheClassicOne) {
    char path[MAX_PATH] = {0};
    const char* filter = "Mod files(*.MOD)\0*.mod\0";
    for (const bool save : {false, true}) {
        const OPENFILENAMEA record = platform::file_dialog_record(save, filter, "C:\\", path, "mod");
        // The size the classic dialogs know: 76 bytes, or 136 in a 64-bit build.
        EXPECT_EQ(record.lStructSize, sizeof(void*) == 4 ? 76u : 136u);
        EXPECT_EQ(record.Flags, static_cast<DWORD>(OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST |
                                                   OFN_CREATEPROMPT | OFN_EXPLORER | OFN_LONGNAMES |
                                                   (save ? 0 : OFN_FILEMUSTEXIST)));
        EXPECT_EQ(record.lpstrFilter, filter);
        EXPECT_EQ(record.nFilterIndex, 1u);
        EXPECT_EQ(record.lpstrFile, path);
        EXPECT_EQ(record.nMaxFile, 260u);
        EXPECT_STREQ(record.lpstrInitialDir, "C:\\");
        EXPECT_STREQ(record.lpstrDefExt, "mod");
        EXPECT_EQ(record.hwndOwner, nullptr);
    }
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

TEST(FrameWindow, ExitAndTheTitleBarsCloseEndTheLoopWithZero) {
    const std::function<void(Window&)> closes[] = {
        [](Window& w) { click(*w.main.exit_button); },
        [](Window& w) { SendMessageA(w.main.frame().window_handle(), WM_SYSCOMMAND, SC_CLOSE, 0); },
        [](Window& w) { SendMessageA(w.main.frame().window_handle(), WM_CLOSE, 0, 0); },
    };
    for (std::size_t i = 0; i < std::size(closes); ++i) {
        Window w;
        closes[i](w);
        EXPECT_FALSE(IsWindow(w.main.frame().window_handle())) << i;
        // The loop ends at once: the quit message is there.
        MSG quit;
        ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << i;
        EXPECT_EQ(w.main.run(), 0) << i;
    }
}

TEST(FrameWindow, LabelsAndCheckBoxesArePaintedOnTheFramesBackground) {
    Window w;
    const HDC context = CreateCompatibleDC(nullptr);
    for (const UINT message : {UINT{WM_CTLCOLORSTATIC}, UINT{WM_CTLCOLORBTN}}) {
        SetBkMode(context, OPAQUE);
        const LRESULT brush = SendMessageA(w.main.frame().window_handle(), message,
                                           reinterpret_cast<WPARAM>(context),
                                           reinterpret_cast<LPARAM>(w.main.to_boxes[0]->window_handle()));
        EXPECT_EQ(reinterpret_cast<HBRUSH>(brush), GetSysColorBrush(COLOR_MENU)) << message;
        EXPECT_EQ(GetBkMode(context), TRANSPARENT) << message;
    }
    DeleteDC(context);
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

namespace {

struct Found {
    DWORD process;
    HWND window = nullptr;
};

BOOL CALLBACK find_frame_of_process(HWND window, LPARAM found) {
    auto& wanted = *reinterpret_cast<Found*>(found);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != wanted.process || class_of(window) != "xkwindow") return TRUE;
    wanted.window = window;
    return FALSE;
}

BOOL CALLBACK collect_child(HWND window, LPARAM children) {
    // Only the frame's own controls, not the combo box's edit field.
    auto& list = *reinterpret_cast<std::vector<HWND>*>(children);
    if (!list.empty() && GetParent(window) != GetParent(list.front())) return TRUE;
    list.push_back(window);
    return TRUE;
}

// Waits, at most 30 s, until found() answers true.
template <typename F>
bool wait_until(F found) {
    for (int i = 0; i < 600; ++i) {
        if (found()) return true;
        Sleep(50);
    }
    return false;
}

}  // namespace

// The program under test never outlives its test, whatever fails: left
// running, it would hold the suite's output open and the run would hang.
struct ChildProcess {
    PROCESS_INFORMATION info{};
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (!info.hProcess) return;
        if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info.hProcess, 1);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
};

TEST(Program, ShowsItsWindowTellsOfAMissingModuleAndEndsWithZeroWhenClosed) {
    const auto dir = modtext::testing::scratch_dir();
    const std::string missing = (dir / "missing.mod").make_preferred().string();
    std::string command = std::string("\"") + MODTEXT_GUI_PATH + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    ChildProcess program;
    PROCESS_INFORMATION& process = program.info;
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    {
        std::lock_guard<std::mutex> lock(g_watch.mutex);
        g_watch.other_process = process.dwProcessId;
    }
    Found frame{process.dwProcessId};
    ASSERT_TRUE(wait_until([&frame] {
        EnumWindows(find_frame_of_process, reinterpret_cast<LPARAM>(&frame));
        return frame.window && IsWindowVisible(frame.window);
    }));
    // The frame is shown before its title and controls are set: all of them come.
    std::vector<HWND> children;
    EXPECT_TRUE(wait_until([&] {
        children.clear();
        EnumChildWindows(frame.window, collect_child, reinterpret_cast<LPARAM>(&children));
        return children.size() == 37;
    }));
    EXPECT_EQ(text_of(frame.window), std::string("ModText ") + MODTEXT_VERSION);
    std::map<std::string, int> classes;
    for (HWND child : children) ++classes[class_of(child)];
    EXPECT_EQ(classes, (std::map<std::string, int>{{"button", 29}, {"combobox", 1}, {"edit", 3}, {"static", 4}}));

    std::vector<HWND> edits;
    HWND export_button = nullptr;
    for (HWND child : children) {
        if (class_of(child) == "edit") edits.push_back(child);
        if (text_of(child) == "Export") export_button = child;
    }
    ASSERT_EQ(edits.size(), 3u);
    ASSERT_NE(export_button, nullptr);
    SetWindowTextA(edits[0], missing.c_str());
    SetWindowTextA(edits[1], (dir / "t.txt").make_preferred().string().c_str());
    expect_boxes(1);
    PostMessageA(export_button, BM_CLICK, 0, 0);
    std::vector<Seen> seen;
    EXPECT_TRUE(wait_until([&seen] {
        seen = take_seen();
        return !seen.empty();
    }));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].title, "Error");
    EXPECT_NE(seen[0].text.find(missing), std::string::npos) << seen[0].text;
    EXPECT_NE(seen[0].icon, "none");

    PostMessageA(frame.window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(code, 0u);
    {
        std::lock_guard<std::mutex> lock(g_watch.mutex);
        g_watch.other_process = 0;
    }
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    g_test_thread = GetCurrentThreadId();
    g_test_started = GetTickCount();
    ::testing::UnitTest::GetInstance()->listeners().Append(new TestClock);
    std::thread(watch_for_dialogs).detach();
    return RUN_ALL_TESTS();
}
