// The one window the user works in: three path boxes with pickers, the two
// language columns, the export filter and the Import, Export and Exit buttons.
#pragma once

#include <array>
#include <mutex>
#include <string>
#include <vector>

#include "core/languages.h"
#include "core/reporter.h"
#include "ui/controls.h"

namespace modtext {

// The most lines a box of gathered diagnostics shows.
inline constexpr std::size_t box_lines = 15;

// The text of a box of gathered diagnostics: at most box_lines of them, then
// "... and N more".
std::string box_text(const std::vector<std::string>& lines);

// Shows the actions' messages as message boxes. An action's errors and its
// warnings about the user's files are gathered and shown when it is over,
// in one "Error" and one "Warning" box; progress and kept texts only when
// the build switched diagnostics on, and then every diagnostic in a box of
// its own as it comes.
class MessageBoxReporter final : public Reporter {
public:
    bool wants(Severity severity) const override;
    void diagnostic(Severity severity, std::string_view text) override;
    void error_box(std::string_view text) override;
    void info_box(std::string_view text) override;
    void kept_text(std::string_view text) override;
    void action_finished() override;

private:
    std::mutex mutex_;  // the import reports from two threads
    std::vector<std::string> errors_;
    std::vector<std::string> warnings_;
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

    // What a "..." button opens: a save or open dialog with its file types
    // and default extension, which fills box. No box for other controls.
    struct Picker {
        EditBox* box = nullptr;
        bool save = false;
        const char* filter = nullptr;
        const char* default_extension = nullptr;
    };
    Picker picker_of(const Control* button) const;

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
    // The path in a box, or false, with the user told, when it is longer
    // than the window's paths may be.
    bool read_path(const EditBox& box, const char* what, std::string& path);

    FrameWindow frame_;
    Reporter& reporter_;
    SelectionState selection_;
};

}  // namespace modtext
