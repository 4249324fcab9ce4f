// The one window the user works in: three path boxes with pickers, the two
// language columns, the export filter and the Import, Export and Exit buttons.
#pragma once

#include <array>

#include "core/languages.h"
#include "core/reporter.h"
#include "ui/controls.h"

namespace modtext {

// Shows the actions' messages as message boxes; diagnostics only when the
// build switched them on.
class MessageBoxReporter final : public Reporter {
public:
    bool wants(Severity severity) const override;
    void diagnostic(Severity severity, std::string_view text) override;
    void error_box(std::string_view text) override;
    void info_box(std::string_view text) override;
    void kept_text(std::string_view text) override;
};

// The window's title: the program's name and version.
inline constexpr const char* window_title = "ModText " MODTEXT_VERSION;

class MainWindow final : public WindowListener {
public:
    // Creates and shows the frame, titled, with its font; no controls yet.
    MainWindow(HINSTANCE instance, Reporter& reporter);

    // Attaches this window as the frame's listener and creates every control.
    void build_controls();
    int run() { return frame_.run(); }

    void on_command(Control* child, WPARAM w, LPARAM l) override;

    FrameWindow& frame() { return frame_; }
    // The choices captured by the last press of Import or Export.
    const SelectionState& selection() const { return selection_; }

    EditBox* source_edit = nullptr;
    EditBox* text_edit = nullptr;
    EditBox* output_edit = nullptr;
    PushButton* source_browse = nullptr;
    PushButton* text_browse = nullptr;
    PushButton* output_browse = nullptr;
    ComboBox* filter_combo = nullptr;
    std::array<CheckBox*, language_count> from_boxes{};
    std::array<CheckBox*, language_count> to_boxes{};
    PushButton* import_button = nullptr;
    PushButton* export_button = nullptr;
    PushButton* exit_button = nullptr;

private:
    void capture_selection();

    FrameWindow frame_;
    Reporter& reporter_;
    SelectionState selection_;
};

}  // namespace modtext
