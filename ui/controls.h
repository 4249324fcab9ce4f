// The child controls: each owns one platform child window inside a frame,
// and each operation is one message to that window. Text, check state and
// list selection live in the window, never in the object.
#pragma once

#include <string>

#include "ui/frame_window.h"

namespace modtext {

class Control {
public:
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control() = default;

    HWND window_handle() const { return window_; }
    FrameWindow& parent() const { return parent_; }
    int x() const { return x_; }
    int y() const { return y_; }
    int width() const { return width_; }
    int height() const { return height_; }

    void set_text(const std::string& text) { platform::set_text(window_, text.c_str()); }
    void take_focus() { platform::set_focus(window_); }
    // Called for every command of this control, before the frame's listener.
    virtual void handle_command(WPARAM, LPARAM) {}
    // Destroys the window; only the frame's teardown calls it.
    void destroy();

protected:
    // Creates the window with id 0 in the parent frame and gives it the frame's font.
    Control(FrameWindow& parent, int x, int y, int width, int height, DWORD ex_style,
            const char* class_name, const char* text, DWORD style);
    LRESULT send(UINT message, WPARAM w = 0, LPARAM l = 0) const {
        return platform::send(window_, message, w, l);
    }

private:
    FrameWindow& parent_;
    HWND window_ = nullptr;
    int x_, y_, width_, height_;
};

// Creates a control of kind T owned by the frame, and answers a reference to it.
template <typename T, typename... Args>
T& add_control(FrameWindow& frame, Args&&... args) {
    auto control = std::unique_ptr<T>(new T(frame, std::forward<Args>(args)...));
    T& reference = *control;
    frame.add_child(std::move(control));
    return reference;
}

class Label final : public Control {
public:
    Label(FrameWindow& parent, int x, int y, int width, int height, const char* caption = "")
        : Control(parent, x, y, width, height, 0, "static", caption, WS_CHILD | WS_VISIBLE) {}
};

class GroupBox final : public Control {
public:
    GroupBox(FrameWindow& parent, int x, int y, int width, int height, const char* caption = "")
        : Control(parent, x, y, width, height, 0, "button", caption,
                  WS_CHILD | WS_VISIBLE | BS_GROUPBOX) {}
};

class PushButton final : public Control {
public:
    PushButton(FrameWindow& parent, int x, int y, int width, int height, const char* caption = "")
        : Control(parent, x, y, width, height, 0, "button", caption,
                  WS_CHILD | WS_VISIBLE | WS_TABSTOP) {}
};

class CheckBox final : public Control {
public:
    CheckBox(FrameWindow& parent, int x, int y, int width, int height, const char* caption = "")
        : Control(parent, x, y, width, height, 0, "button", caption,
                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX) {}

    bool is_checked() const { return send(BM_GETCHECK) == BST_CHECKED; }
    void set_checked(bool checked) { send(BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED); }
};

class EditBox final : public Control {
public:
    EditBox(FrameWindow& parent, int x, int y, int width, int height)
        : Control(parent, x, y, width, height, WS_EX_CLIENTEDGE, "edit", "",
                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL) {}

    // The text, at most capacity - 1 bytes of it; a capacity of 0 means no limit.
    std::string get_text(std::size_t capacity = 0) const;

    // Fill the box from the platform's open or save dialog; false, and the
    // box unchanged, when the user cancels. A name typed without an
    // extension gets default_extension.
    bool pick_open_file(const char* initial_directory = nullptr, const char* filter = nullptr,
                        const char* default_extension = nullptr);
    bool pick_save_file(const char* initial_directory = nullptr, const char* filter = nullptr,
                        const char* default_extension = nullptr);
};

class ComboBox final : public Control {
public:
    ComboBox(FrameWindow& parent, int x, int y, int width, int height)
        : Control(parent, x, y, width, height, WS_EX_CLIENTEDGE, "combobox", "",
                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWN) {}

    void add_item(const char* text) { send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)); }
    // The selected row, or -1 when none is.
    int get_selection() const { return static_cast<int>(send(CB_GETCURSEL)); }
    void set_selection(int row) { send(CB_SETCURSEL, static_cast<WPARAM>(row)); }
};

}  // namespace modtext
