#include "app/main_window.h"

#include <cstdio>
#include <string>

#include "actions/actions.h"

namespace modtext {

namespace {

#ifdef MODTEXT_DIAGNOSTICS
constexpr bool diagnostics_switch = true;
#else
constexpr bool diagnostics_switch = false;
#endif

// The window's path buffers held 260 bytes, the terminating zero among them.
constexpr std::size_t path_capacity = 260;

constexpr const char* mod_filter = "Mod files(*.MOD)\0*.mod\0";
constexpr const char* text_filter = "Text files(*.TXT)\0*.txt\0PO files (*.po)\0*.po\0";

void show_gathered(std::vector<std::string>& lines, const char* title, UINT icon) {
    if (lines.empty()) return;
    const std::string text = box_text(lines);
    lines.clear();
    platform::message_box(text.c_str(), title, MB_OK | icon);
}

}  // namespace

std::string box_text(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size() && i < box_lines; ++i) {
        if (i > 0) text += '\n';
        text += lines[i];
    }
    if (lines.size() > box_lines) {
        text += "\n... and " + std::to_string(lines.size() - box_lines) + " more";
    }
    return text;
}

bool MessageBoxReporter::wants(Severity severity) const {
    return diagnostics_switch || severity != Severity::progress;
}

void MessageBoxReporter::diagnostic(Severity severity, std::string_view text) {
    if (diagnostics_switch) {
        platform::message_box(std::string(text).c_str(), "Error", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    const std::lock_guard<std::mutex> lock(mutex_);
    (severity == Severity::error ? errors_ : warnings_).emplace_back(text);
}

void MessageBoxReporter::action_finished() {
    const std::lock_guard<std::mutex> lock(mutex_);
    show_gathered(errors_, "Error", MB_ICONERROR);
    show_gathered(warnings_, "Warning", MB_ICONWARNING);
}

void MessageBoxReporter::error_box(std::string_view text) {
    platform::message_box(std::string(text).c_str(), "Error", MB_OK);
}

void MessageBoxReporter::info_box(std::string_view text) {
    platform::message_box(std::string(text).c_str(), "Info", MB_OK | MB_ICONINFORMATION);
}

void MessageBoxReporter::kept_text(std::string_view text) {
    if (!diagnostics_switch) return;
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

MainWindow::MainWindow(HINSTANCE instance, Reporter& reporter)
    : frame_(instance), reporter_(reporter) {
    frame_.create_window(CW_USEDEFAULT, CW_USEDEFAULT, 470, 250);
    frame_.set_title(window_title);
    frame_.set_font(15);
}

void MainWindow::build_controls() {
    frame_.set_listener(this);
    FrameWindow& f = frame_;
    add_control<GroupBox>(f, 5, 5, 180, 210, "Input/Output files");
    add_control<Label>(f, 20, 25, 150, 15, "Source mod file");
    source_edit = &add_control<EditBox>(f, 20, 40, 130, 20);
    source_browse = &add_control<PushButton>(f, 150, 40, 20, 20, "...");
    add_control<Label>(f, 20, 70, 150, 15, "Export/Import text file");
    text_edit = &add_control<EditBox>(f, 20, 85, 130, 20);
    text_browse = &add_control<PushButton>(f, 150, 85, 20, 20, "...");
    add_control<Label>(f, 20, 115, 150, 15, "Output mod file");
    output_edit = &add_control<EditBox>(f, 20, 130, 130, 20);
    output_browse = &add_control<PushButton>(f, 150, 130, 20, 20, "...");
    add_control<Label>(f, 20, 160, 150, 15, "Export filter");
    filter_combo = &add_control<ComboBox>(f, 20, 175, 150, 150);

    // The two language columns, one box per table row, 15 pixels apart; the
    // Chinese captions are the long ones.
    const auto column = [&f](std::array<CheckBox*, language_count>& boxes, int x) {
        for (std::size_t row = 0; row < language_count; ++row) {
            const int width = row == 7 || row == 8 ? 100 : 80;
            const std::string caption(LanguageTable[row].caption);
            boxes[row] = &add_control<CheckBox>(f, x, 25 + 15 * static_cast<int>(row), width, 15,
                                                caption.c_str());
        }
    };
    add_control<GroupBox>(f, 190, 5, 130, 180, "Translate from/Import");
    column(from_boxes, 200);
    from_boxes[0]->set_checked(true);
    add_control<GroupBox>(f, 325, 5, 130, 180, "Translate to");
    column(to_boxes, 335);

    import_button = &add_control<PushButton>(f, 197, 190, 80, 25, "Import");
    export_button = &add_control<PushButton>(f, 282, 190, 80, 25, "Export");
    exit_button = &add_control<PushButton>(f, 367, 190, 80, 25, "Exit");
    for (std::string_view caption : filter_captions) {
        filter_combo->add_item(std::string(caption).c_str());
    }
    filter_combo->set_selection(0);
    frame_.fit_to_children(5);
    // The keyboard starts where the work does: the source module's path.
    source_edit->take_focus();
}

void MainWindow::capture_selection() {
    std::array<bool, language_count> from{}, to{};
    for (std::size_t row = 0; row < language_count; ++row) {
        from[row] = from_boxes[row]->is_checked();
        to[row] = to_boxes[row]->is_checked();
    }
    selection_ = {mask_from_checks(from), mask_from_checks(to), filter_combo->get_selection()};
}

MainWindow::Picker MainWindow::picker_of(const Control* button) const {
    if (button == source_browse) return {source_edit, false, mod_filter, "mod"};
    if (button == text_browse) return {text_edit, false, text_filter, "txt"};
    if (button == output_browse) return {output_edit, true, mod_filter, "mod"};
    return {};
}

bool MainWindow::read_path(const EditBox& box, const char* what, std::string& path) {
    path = box.get_text();
    // Cut to what the window's path buffers held, it would name another file.
    if (path.size() < path_capacity) return true;
    report(reporter_, Severity::error, "Error: the path of the %s is %zu bytes long; the window "
           "takes paths of at most %zu bytes!\n", what, path.size(), path_capacity - 1);
    reporter_.action_finished();
    return false;
}

void MainWindow::on_command(Control* child, WPARAM, LPARAM) {
    if (!child) return;
    if (const Picker picker = picker_of(child); picker.box && picker.save) {
        picker.box->pick_save_file(nullptr, picker.filter, picker.default_extension);
    } else if (picker.box) {
        picker.box->pick_open_file(nullptr, picker.filter, picker.default_extension);
    }
    // The choices are captured before any path is read or checked.
    if (child == import_button || child == export_button) capture_selection();
    std::string source, text, output;
    if (child == import_button && read_path(*source_edit, "source MOD file", source) &&
        read_path(*text_edit, "text file", text) &&
        read_path(*output_edit, "destination MOD file", output)) {
        import_by_path(source, text, output, selection_, reporter_);
    }
    if (child == export_button && read_path(*source_edit, "source MOD file", source) &&
        read_path(*text_edit, "text file", text)) {
        export_by_path(source, text, selection_, reporter_);
    }
    if (child == exit_button) frame_.close();
}

}  // namespace modtext
