#include "core/actions.h"

#include <new>
#include <system_error>

#include "formats/module_archive.h"
#include "translation/exporters.h"
#include "translation/rebuild.h"

namespace modtext {

bool path_given(const std::string& path) { return path.size() >= 2; }

namespace {

struct PathCheck {
    const std::string& path;
    const char* missing;  // what the user is told when it is missing
};

// The first missing path is the only one the user hears of.
bool paths_given(std::initializer_list<PathCheck> checks, Reporter& reporter) {
    for (const PathCheck& check : checks) {
        if (!path_given(check.path)) {
            reporter.error_box(check.missing);
            return false;
        }
    }
    return true;
}

// Runs an action's work and tells its success. Memory or other system
// resources running out fail the action like any other error: its staged
// output is discarded on the way.
template <typename Work>
bool run_action(Reporter& reporter, const char* complete, Work work) {
    bool done = false;
    try {
        done = work();
    } catch (const std::bad_alloc&) {
        report(reporter, Severity::error, "Error: not enough memory to finish!\n");
        return false;
    } catch (const std::system_error& error) {
        // Such as a thread the system would not start.
        report(reporter, Severity::error, "Error: the system refused to go on (%s)!\n", error.what());
        return false;
    }
    if (done) reporter.info_box(complete);
    return done;
}

}  // namespace

bool export_module(const std::string& source_path, const std::string& text_path,
                   const SelectionState& selection, Reporter& reporter) {
    if (!paths_given({{source_path, "Please give a source MOD file."},
                      {text_path, "Please give a text file to export to."}},
                     reporter)) {
        return false;
    }
    return run_action(reporter, "Export complete!", [&] {
        ModuleArchive archive;
        return open_module(archive, source_path, reporter) &&
               export_text(archive, text_path, selection, reporter);
    });
}

bool import_module(const std::string& source_path, const std::string& text_path,
                   const std::string& output_path, const SelectionState& selection,
                   Reporter& reporter) {
    if (!paths_given({{source_path, "Please give a source MOD file."},
                      {text_path, "Please give a text file to import from."},
                      {output_path, "Please give a destination MOD to import to."}},
                     reporter)) {
        return false;
    }
    return run_action(reporter, "Import complete!", [&] {
        ModuleArchive archive;
        return open_module(archive, source_path, reporter) &&
               write_module(archive, text_path, output_path, selection, reporter);
    });
}

}  // namespace modtext
