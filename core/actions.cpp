#include "core/actions.h"

#include "formats/module_archive.h"
#include "translation/exporters.h"
#include "translation/rebuild.h"

namespace modtext {

bool path_given(const std::string& path) { return path.size() >= 2; }

bool export_module(const std::string& source_path, const std::string& text_path,
                   const SelectionState& selection, Reporter& reporter) {
    if (!path_given(source_path)) {
        reporter.error_box("Please give a source MOD file.");
        return false;
    }
    if (!path_given(text_path)) {
        reporter.error_box("Please give a text file to export to.");
        return false;
    }
    ModuleArchive archive;
    if (!open_module(archive, source_path, reporter)) return false;
    if (!export_text(archive, text_path, selection, reporter)) return false;
    reporter.info_box("Export complete!");
    return true;
}

bool import_module(const std::string& source_path, const std::string& text_path,
                   const std::string& output_path, const SelectionState& selection,
                   Reporter& reporter) {
    if (!path_given(source_path)) {
        reporter.error_box("Please give a source MOD file.");
        return false;
    }
    if (!path_given(text_path)) {
        reporter.error_box("Please give a text file to import from.");
        return false;
    }
    if (!path_given(output_path)) {
        reporter.error_box("Please give a destination MOD to import to.");
        return false;
    }
    ModuleArchive archive;
    if (!open_module(archive, source_path, reporter)) return false;
    if (!write_module(archive, text_path, output_path, selection, reporter)) return false;
    reporter.info_box("Import complete!");
    return true;
}

}  // namespace modtext
