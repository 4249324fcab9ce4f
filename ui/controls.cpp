#include "ui/controls.h"

namespace modtext {

Control::Control(FrameWindow& parent, int x, int y, int width, int height, DWORD ex_style,
                 const char* class_name, const char* text, DWORD style)
    : parent_(parent), x_(x), y_(y), width_(width), height_(height) {
    window_ = platform::create_window(ex_style, class_name, text, style, x, y, width, height,
                                      parent.window_handle(), parent.instance());
    send(WM_SETFONT, reinterpret_cast<WPARAM>(parent.font()), TRUE);
}

void Control::destroy() {
    if (window_) platform::destroy_window(window_);
    window_ = nullptr;
}

std::string EditBox::get_text(std::size_t capacity) const {
    std::size_t count = static_cast<std::size_t>(send(WM_GETTEXTLENGTH)) + 1;
    if (capacity != 0 && capacity < count) count = capacity;
    std::string text(count, '\0');
    const auto copied = send(WM_GETTEXT, count, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

bool EditBox::pick_open_file(const char* initial_directory, const char* filter,
                             const char* default_extension) {
    std::string path;
    if (!platform::run_file_dialog(false, filter, initial_directory, path, default_extension)) return false;
    set_text(path);
    return true;
}

bool EditBox::pick_save_file(const char* initial_directory, const char* filter,
                             const char* default_extension) {
    std::string path;
    if (!platform::run_file_dialog(true, filter, initial_directory, path, default_extension)) return false;
    set_text(path);
    return true;
}

}  // namespace modtext
