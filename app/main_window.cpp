#include "app/main_window.h"

#include <cstdio>
#include <string>

#include "core/actions.h"

namespace modtext {

bool MessageBoxReporter::wants(Severity) const {
#ifdef MODTEXT_DIAGNOSTICS
    return true;
#else
    return false;
#endif
}

void MessageBoxReporter::diagnostic(Severity, std::string_view text) {
    platform::message_box(std::string(text).c_str(), "Error", MB_OK | MB_ICONEXCLAMATION);
}

void MessageBoxReporter::error_box(std::string_view text) {
    platform::message_box(std::string(text).c_str(), "Error", MB_OK);
}

void MessageBoxReporter::info_box(std::string_view text) {
    platform::message_box(std::string(text).c_str(), "Info", MB_OK | MB_ICONINFORMATION);
}

void MessageBoxReporter::kept_text(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

namespace {

// Each path is read as the window's 260-byte path buffers held it.
constexpr std::size_t path_capacity = 260;

constexpr const char* mod_filter = "Mod files(*.MOD)\0*.mod\0";
constexpr const char* text_filter = "Text files(*.TXT)\0*.txt\0";

}  // namespace

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

void MainWindow::on_command(Control* child, WPARAM, LPARAM) {
    if (!child) return;
    if (child == source_browse) source_edit->pick_open_file(nullptr, mod_filter, "mod");
    if (child == text_browse) text_edit->pick_open_file(nullptr, text_filter, "txt");
    if (child == output_browse) output_edit->pick_save_file(nullptr, mod_filter, "mod");
    // The choices are captured before any path is read or checked.
    if (child == import_button || child == export_button) capture_selection();
    if (child == import_button) {
        const std::string source = source_edit->get_text(path_capacity);
        const std::string text = text_edit->get_text(path_capacity);
        const std::string output = output_edit->get_text(path_capacity);
        import_module(source, text, output, selection_, reporter_);
    }
    if (child == export_button) {
        const std::string source = source_edit->get_text(path_capacity);
        const std::string text = text_edit->get_text(path_capacity);
        export_module(source, text, selection_, reporter_);
    }
    if (child == exit_button) frame_.close();
}

}  // namespace modtext
