// The top-level window of the toolkit: it owns its controls and their font,
// turns window messages into calls of its listener, and runs the message
// loop with Tab navigation.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/platform.h"

namespace modtext {

class Control;

// What a frame tells its application. Each operation has a default that
// does nothing (or allows), so a listener implements only what it needs.
class WindowListener {
public:
    virtual ~WindowListener() = default;
    // A command from a child control, or from an accelerator (child none).
    virtual void on_command(Control* /*child*/, WPARAM /*w*/, LPARAM /*l*/) {}
    virtual void on_menu_command(WORD /*id*/) {}
    virtual void on_paint(HDC /*context*/) {}
    virtual bool can_close() { return true; }
};

inline constexpr const char* frame_class_name = "XKWindow";

class FrameWindow {
public:
    explicit FrameWindow(HINSTANCE instance);
    FrameWindow(const FrameWindow&) = delete;
    FrameWindow& operator=(const FrameWindow&) = delete;
    ~FrameWindow();  // the teardown: font, then every control's window

    void create_window(int x, int y, int width, int height, const char* menu_name = nullptr);
    void set_title(const char* text) { platform::set_text(window_, text); }
    void set_font(int height, const char* face = nullptr);
    void set_listener(WindowListener* listener) { listener_ = listener; }
    void add_child(std::unique_ptr<Control> control);
    // Grows the frame, never shrinks it, until its client area holds every
    // control (a combo box at its closed height) and a margin beyond them,
    // whatever the thickness of the frame the system draws.
    void fit_to_children(int margin);

    HWND window_handle() const { return window_; }
    HINSTANCE instance() const { return instance_; }
    HFONT font() const { return font_; }
    WindowListener* listener() const { return listener_; }
    const std::vector<std::unique_ptr<Control>>& children() const { return children_; }
    void set_tab_navigation(bool on) { tab_navigation_ = on; }

    // Runs the message loop until the quit message; returns 0.
    int run();
    // One message of the loop: Tab navigation, then translation and dispatch.
    void process_message(const MSG& message);
    // Destroys the window, which ends the loop.
    void close();

    // The answer to one message of this frame's window.
    LRESULT dispatch(HWND window, UINT message, WPARAM w, LPARAM l);

private:
    LRESULT dispatch_command(HWND window, WPARAM w, LPARAM l);

    HWND window_ = nullptr;
    HINSTANCE instance_;
    WindowListener* listener_ = nullptr;
    HFONT font_ = nullptr;
    std::vector<std::unique_ptr<Control>> children_;
    bool tab_navigation_ = true;
};

}  // namespace modtext
