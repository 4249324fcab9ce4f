// Every call the window toolkit makes into the Windows user-interface
// services, in one place. Each is a thin pass-through in the single-byte
// character form; the toolkit above it holds no platform code of its own.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commdlg.h>

#include <string>

namespace modtext::platform {

// The system colour the frame's class paints its background with; labels
// and check boxes are painted on it too.
inline constexpr int frame_background_colour = COLOR_MENU;

void init_common_controls();
void register_frame_class(HINSTANCE instance, WNDPROC procedure, const char* class_name,
                          const char* menu_name);
HWND create_window(DWORD ex_style, const char* class_name, const char* text, DWORD style, int x,
                   int y, int width, int height, HWND parent, HINSTANCE instance);
void destroy_window(HWND window);
bool is_window(HWND window);
void show_window(HWND window);
void redraw_now(HWND window);
DWORD style_of(HWND window);
DWORD ex_style_of(HWND window);
// A child window's rectangle in its parent's client coordinates.
RECT rect_in_parent(HWND window);
// The outer size a window of these styles needs for a client area of the
// given size, with the frame the system draws today.
SIZE outer_size_for_client(DWORD style, DWORD ex_style, int client_width, int client_height);
SIZE outer_size(HWND window);
void resize(HWND window, int width, int height);

void set_window_object(HWND window, void* object);
void* window_object(HWND window);

LRESULT send(HWND window, UINT message, WPARAM w = 0, LPARAM l = 0);
LRESULT default_procedure(HWND window, UINT message, WPARAM w, LPARAM l);
LRESULT default_frame_procedure(HWND window, UINT message, WPARAM w, LPARAM l);
void set_text(HWND window, const char* text);
// Gives the keyboard focus to a window of this thread.
void set_focus(HWND window);

// A control's text drawn straight onto the parent's background.
void draw_text_transparent(HDC context);
HBRUSH system_colour_brush(int colour);

HFONT create_font(int height, const char* face);
void delete_font(HFONT font);

// Painting of one WM_PAINT: the device context between begin and end.
HDC begin_paint(HWND window, PAINTSTRUCT& paint);
void end_paint(HWND window, const PAINTSTRUCT& paint);

void post_quit(int exit_code);
// The next message of the thread; false on the quit message.
bool next_message(MSG& message);
void translate_and_dispatch(const MSG& message);
// Tab navigation: the focus to the next (or, with Shift held, previous) tab
// stop of the frame after the focused window.
void move_focus_to_next_tab_stop(HWND frame);

// The record the open and save dialogs are run with: the classic dialog's
// record size, the chosen path in path_buffer (MAX_PATH bytes).
OPENFILENAMEA file_dialog_record(bool save, const char* filter, const char* initial_directory,
                                 char* path_buffer, const char* default_extension);
// The platform's open or save dialog; true, with the chosen path, on
// confirmation. A name typed without an extension gets default_extension.
bool run_file_dialog(bool save, const char* filter, const char* initial_directory,
                     std::string& path, const char* default_extension = nullptr);

// Message boxes of the actions, with no owner window.
void message_box(const char* text, const char* title, UINT kind);

}  // namespace modtext::platform
