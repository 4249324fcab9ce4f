#include "ui/frame_window.h"

#include <algorithm>

#include "ui/controls.h"

namespace modtext {

namespace {

LRESULT CALLBACK frame_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    // Messages of the window's creation arrive before the frame is attached.
    auto* frame = static_cast<FrameWindow*>(platform::window_object(window));
    if (!frame) return platform::default_procedure(window, message, w, l);
    return frame->dispatch(window, message, w, l);
}

}  // namespace

FrameWindow::FrameWindow(HINSTANCE instance) : instance_(instance) {
    platform::init_common_controls();
}

FrameWindow::~FrameWindow() {
    if (font_) platform::delete_font(font_);
    for (const auto& child : children_) child->destroy();
    // A window still open (a test's, say) must not call back into a frame
    // that is gone.
    if (window_ && platform::is_window(window_)) {
        platform::set_window_object(window_, nullptr);
        platform::destroy_window(window_);
    }
}

void FrameWindow::create_window(int x, int y, int width, int height, const char* menu_name) {
    platform::register_frame_class(instance_, frame_procedure, frame_class_name, menu_name);
    window_ = platform::create_window(0, frame_class_name, "Test", WS_OVERLAPPEDWINDOW, x, y,
                                      width, height, nullptr, instance_);
    platform::set_window_object(window_, this);
    platform::show_window(window_);
}

void FrameWindow::set_font(int height, const char* face) {
    // Controls take the font when they are created, so this comes before them.
    if (font_) platform::delete_font(font_);
    font_ = platform::create_font(height, face ? face : "MS Sans Serif");
}

void FrameWindow::add_child(std::unique_ptr<Control> control) {
    children_.push_back(std::move(control));
}

void FrameWindow::fit_to_children(int margin) {
    int right = 0, bottom = 0;
    for (const auto& child : children_) {
        // The window's own rectangle: a combo box's is its closed height.
        const RECT rect = platform::rect_in_parent(child->window_handle());
        right = std::max(right, static_cast<int>(rect.right));
        bottom = std::max(bottom, static_cast<int>(rect.bottom));
    }
    const SIZE needed = platform::outer_size_for_client(
        platform::style_of(window_), platform::ex_style_of(window_), right + margin, bottom + margin);
    const SIZE now = platform::outer_size(window_);
    if (needed.cx <= now.cx && needed.cy <= now.cy) return;
    platform::resize(window_, std::max(needed.cx, now.cx), std::max(needed.cy, now.cy));
}

int FrameWindow::run() {
    platform::redraw_now(window_);
    MSG message;
    while (platform::next_message(message)) process_message(message);
    return 0;
}

void FrameWindow::process_message(const MSG& message) {
    if (tab_navigation_ && message.message == WM_KEYDOWN && message.wParam == VK_TAB) {
        platform::move_focus_to_next_tab_stop(window_);
    }
    platform::translate_and_dispatch(message);
}

void FrameWindow::close() { platform::send(window_, WM_QUIT); }

LRESULT FrameWindow::dispatch(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_DESTROY:
            platform::post_quit(0);
            return 0;
        case WM_SIZE:
            return platform::default_frame_procedure(window, message, w, l);
        case WM_PAINT: {
            if (!listener_) return platform::default_procedure(window, message, w, l);
            PAINTSTRUCT paint;
            listener_->on_paint(platform::begin_paint(window, paint));
            platform::end_paint(window, paint);
            return 0;
        }
        case WM_QUERYENDSESSION:
            // Nothing here is unsaved: the user may log off or shut down.
            return TRUE;
        case WM_QUIT:  // as sent by close()
            platform::destroy_window(window);
            return 0;
        case WM_COMMAND:
            return dispatch_command(window, w, l);
        case WM_CTLCOLORSTATIC:  // labels, group and check boxes
        case WM_CTLCOLORBTN:
            // On the frame's own background, so that the window reads as one surface.
            platform::draw_text_transparent(reinterpret_cast<HDC>(w));
            return reinterpret_cast<LRESULT>(platform::system_colour_brush(platform::frame_background_colour));
        default:
            return platform::default_procedure(window, message, w, l);
    }
}

LRESULT FrameWindow::dispatch_command(HWND window, WPARAM w, LPARAM l) {
    const WORD code = HIWORD(w);
    const WORD id = LOWORD(w);
    if (listener_) {
        if (code == 0 && l == 0) {
            if (id == SC_MINIMIZE || id == SC_CLOSE || id == SC_RESTORE) {
                return platform::default_frame_procedure(window, WM_COMMAND, w, l);
            }
            listener_->on_menu_command(id);
            return 0;
        }
        if (l == 0) {
            listener_->on_command(nullptr, w, l);
        } else {
            // Controls are told apart by their window, not by an id. The
            // listener may close the frame meanwhile: the controls live on
            // until the teardown, so the scan completes.
            const HWND sender = reinterpret_cast<HWND>(l);
            for (std::size_t i = 0; i < children_.size(); ++i) {
                Control& child = *children_[i];
                if (child.window_handle() != sender) continue;
                child.handle_command(w, l);
                listener_->on_command(&child, w, l);
            }
        }
    }
    return platform::default_frame_procedure(window, WM_COMMAND, w, l);
}

}  // namespace modtext
