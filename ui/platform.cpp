#include "ui/platform.h"

#include <commctrl.h>

namespace modtext::platform {

void init_common_controls() {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
}

void register_frame_class(HINSTANCE instance, WNDPROC procedure, const char* class_name,
                          const char* menu_name) {
    WNDCLASSEXA record{};
    record.cbSize = sizeof record;
    record.lpfnWndProc = procedure;
    record.cbWndExtra = sizeof(void*);
    record.hInstance = instance;
    record.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    record.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
    record.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    record.hbrBackground = reinterpret_cast<HBRUSH>(frame_background_colour + 1);
    record.lpszMenuName = menu_name;
    record.lpszClassName = class_name;
    // A second frame of the process finds the class already registered.
    RegisterClassExA(&record);
}

HWND create_window(DWORD ex_style, const char* class_name, const char* text, DWORD style, int x,
                   int y, int width, int height, HWND parent, HINSTANCE instance) {
    return CreateWindowExA(ex_style, class_name, text, style, x, y, width, height, parent,
                           nullptr, instance, nullptr);
}

void destroy_window(HWND window) { DestroyWindow(window); }

bool is_window(HWND window) { return IsWindow(window) != FALSE; }

void show_window(HWND window) {
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
}

void redraw_now(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

DWORD style_of(HWND window) { return static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)); }

DWORD ex_style_of(HWND window) { return static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE)); }

RECT rect_in_parent(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

SIZE outer_size_for_client(DWORD style, DWORD ex_style, int client_width, int client_height) {
    RECT rect{0, 0, client_width, client_height};
    AdjustWindowRectEx(&rect, style, FALSE, ex_style);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

SIZE outer_size(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

void resize(HWND window, int width, int height) {
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void set_window_object(HWND window, void* object) {
    SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(object));
}

void* window_object(HWND window) { return reinterpret_cast<void*>(GetWindowLongPtrA(window, 0)); }

LRESULT send(HWND window, UINT message, WPARAM w, LPARAM l) {
    return SendMessageA(window, message, w, l);
}

LRESULT default_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    return DefWindowProcA(window, message, w, l);
}

LRESULT default_frame_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    return DefFrameProcA(window, nullptr, message, w, l);
}

void set_text(HWND window, const char* text) { SetWindowTextA(window, text); }

void draw_text_transparent(HDC context) { SetBkMode(context, TRANSPARENT); }

HBRUSH system_colour_brush(int colour) { return GetSysColorBrush(colour); }

HFONT create_font(int height, const char* face) {
    return CreateFontA(height, 0, 0, 0, 0, FALSE, FALSE, FALSE, ANSI_CHARSET, 0, 0, 0, 0, face);
}

void delete_font(HFONT font) { DeleteObject(font); }

HDC begin_paint(HWND window, PAINTSTRUCT& paint) { return BeginPaint(window, &paint); }

void end_paint(HWND window, const PAINTSTRUCT& paint) { EndPaint(window, &paint); }

void post_quit(int exit_code) { PostQuitMessage(exit_code); }

bool next_message(MSG& message) { return GetMessageA(&message, nullptr, 0, 0) > 0; }

void translate_and_dispatch(const MSG& message) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

void set_focus(HWND window) { SetFocus(window); }

void move_focus_to_next_tab_stop(HWND frame) {
    const BOOL backwards = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    SetFocus(GetNextDlgTabItem(frame, GetFocus(), backwards));
}

OPENFILENAMEA file_dialog_record(bool save, const char* filter, const char* initial_directory,
                                 char* path_buffer, const char* default_extension) {
    OPENFILENAMEA record{};
    // The record as the classic dialogs know it, without the later extension fields.
    record.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    record.lpstrFilter = filter ? filter : "All files(*.*)\0*.*\0";
    record.nFilterIndex = 1;
    record.lpstrFile = path_buffer;
    record.nMaxFile = MAX_PATH;
    record.lpstrInitialDir = initial_directory;
    record.lpstrDefExt = default_extension;
    record.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_CREATEPROMPT |
                   OFN_EXPLORER | OFN_LONGNAMES | (save ? 0 : OFN_FILEMUSTEXIST);
    return record;
}

bool run_file_dialog(bool save, const char* filter, const char* initial_directory,
                     std::string& path, const char* default_extension) {
    char file[MAX_PATH] = {0};
    OPENFILENAMEA record =
        file_dialog_record(save, filter, initial_directory, file, default_extension);
    const BOOL chosen = save ? GetSaveFileNameA(&record) : GetOpenFileNameA(&record);
    if (!chosen) return false;
    path = file;
    return true;
}

void message_box(const char* text, const char* title, UINT kind) {
    MessageBoxA(nullptr, text, title, kind);
}

}  // namespace modtext::platform
