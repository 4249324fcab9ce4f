#include "actions/actions.h"

#include <new>
#include <optional>
#include <system_error>

#include "formats/module_archive.h"
#include "translation/entry_stats.h"
#include "translation/exporters.h"
#include "translation/module_entries.h"
#include "translation/rebuild.h"
#include "translation/text_checks.h"
#include "translation/text_entries.h"

namespace modtext {

bool path_given(const std::string& path) { return !path.empty(); }

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
    std::string summary;
    try {
        done = work(summary);
    } catch (const std::bad_alloc&) {
        report(reporter, Severity::error, "Error: not enough memory to finish!\n");
    } catch (const std::system_error& error) {
        // Such as a thread the system would not start.
        report(reporter, Severity::error, "Error: the system refused to go on (%s)!\n", error.what());
    }
    report_left_out_warnings(reporter);
    reporter.action_finished();
    if (done) reporter.info_box(complete);
    if (done && !summary.empty()) reporter.summary(summary);
    return done;
}

// Refuses to write over a file the action reads: it would be lost before
// it was read. Links and other spellings of a path are seen through.
bool not_an_input(const std::string& target, const std::string& input, const char* refusal,
                  Reporter& reporter) {
    if (!same_file(target, input)) return true;
    report(reporter, Severity::error, refusal, target.c_str());
    return false;
}

// A whole text read into memory; its entries view it.
bool read_whole_text(const std::string& path, Bytes& bytes, Reporter& reporter) {
    InputFile file;
    if (!file.open(path)) {
        report_file_problem(reporter, file.problem(), path);
        return false;
    }
    if (!file.read_all(bytes)) {
        report(reporter, Severity::error, "Error reading file: %s\n", path.c_str());
        return false;
    }
    return true;
}

std::string_view text_of(const Bytes& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

bool export_module(const std::string& source_path, const std::string& text_path,
                   const SelectionState& selection, Reporter& reporter, const TextEncodingOptions& options) {
    if (!paths_given({{source_path, "Please give a source MOD file."},
                      {text_path, "Please give a text file to export to."}},
                     reporter)) {
        return false;
    }
    return run_action(reporter, "Export complete!", [&](std::string& summary) {
        ModuleArchive archive;
        ExportCounts counts;
        const bool done = not_an_input(text_path, source_path,
                                       "Error: %s is the source MOD file itself; give another "
                                       "text file to export to!\n",
                                       reporter) &&
                          open_module(archive, source_path, reporter) &&
                          export_text(archive, text_path, selection, reporter, counts, options);
        if (done) summary = export_summary(counts);
        return done;
    });
}

bool import_module(const std::string& source_path, const std::string& text_path,
                   const std::string& output_path, const SelectionState& selection,
                   Reporter& reporter, const TextEncodingOptions& options) {
    if (!paths_given({{source_path, "Please give a source MOD file."},
                      {text_path, "Please give a text file to import from."},
                      {output_path, "Please give a destination MOD to import to."}},
                     reporter)) {
        return false;
    }
    // The output may be the source: it is read whole before it is replaced.
    return run_action(reporter, "Import complete!", [&](std::string& summary) {
        ModuleArchive archive;
        return not_an_input(output_path, text_path,
                            "Error: %s is the text file to import itself; give another "
                            "destination MOD!\n",
                            reporter) &&
               open_module(archive, source_path, reporter) &&
               write_module(archive, text_path, output_path, selection, reporter, &summary, options);
    });
}

bool export_catalogue(const std::string& source_path, const std::string& po_path,
                      const PoExportOptions& options, Reporter& reporter) {
    if (!paths_given({{source_path, "Please give a source MOD file."},
                      {po_path, "Please give a text file to export to."}},
                     reporter)) {
        return false;
    }
    return run_action(reporter, "Export complete!", [&](std::string& summary) {
        ModuleArchive archive;
        return not_an_input(po_path, source_path,
                            "Error: %s is the source MOD file itself; give another "
                            "text file to export to!\n",
                            reporter) &&
               open_module(archive, source_path, reporter) &&
               export_po(archive, po_path, options, reporter, summary);
    });
}

bool import_catalogue(const std::string& source_path, const std::string& po_path,
                      const std::string& output_path, const PoImportOptions& options, Reporter& reporter) {
    if (!paths_given({{source_path, "Please give a source MOD file."},
                      {po_path, "Please give a text file to import from."},
                      {output_path, "Please give a destination MOD to import to."}},
                     reporter)) {
        return false;
    }
    return run_action(reporter, "Import complete!", [&](std::string& summary) {
        ModuleArchive archive;
        return not_an_input(output_path, po_path,
                            "Error: %s is the text file to import itself; give another "
                            "destination MOD!\n",
                            reporter) &&
               open_module(archive, source_path, reporter) &&
               import_po(archive, po_path, output_path, options, reporter, summary);
    });
}

namespace {

bool has_extension(const std::string& path, std::string_view extension) {
    if (path.size() < extension.size()) return false;
    for (std::size_t i = 0; i < extension.size(); ++i) {
        char c = path[path.size() - extension.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != extension[i]) return false;
    }
    return true;
}

}  // namespace

bool is_po_path(const std::string& path) { return has_extension(path, ".po"); }

namespace {

std::optional<std::size_t> first_ticked(std::uint16_t mask) {
    for (std::size_t row = 0; row < language_count; ++row) {
        if (mask & language_bit(row)) return row;
    }
    return std::nullopt;
}

}  // namespace

bool export_by_path(const std::string& source_path, const std::string& text_path,
                    const SelectionState& selection, Reporter& reporter) {
    if (!is_po_path(text_path)) return export_module(source_path, text_path, selection, reporter);
    const std::optional<std::size_t> from = first_ticked(selection.from_mask);
    const std::optional<std::size_t> to = first_ticked(selection.to_mask);
    if (!from || !to) {
        reporter.error_box(!from ? "Please tick the language to translate from."
                                 : "Please tick the language to translate to.");
        return false;
    }
    PoExportOptions options;
    options.from_row = *from;
    options.to_row = *to;
    options.filter = selection.filter;
    options.templates = selection.templates;
    return export_catalogue(source_path, text_path, options, reporter);
}

bool import_by_path(const std::string& source_path, const std::string& text_path,
                    const std::string& output_path, const SelectionState& selection, Reporter& reporter) {
    if (!is_po_path(text_path)) return import_module(source_path, text_path, output_path, selection, reporter);
    return import_catalogue(source_path, text_path, output_path, {}, reporter);
}
bool is_pot_path(const std::string& path) { return has_extension(path, ".pot"); }

bool module_stats(const std::string& source_path, const std::string& text_path, bool catalogue,
                  const SelectionState& selection, const CodePageChoices& choices,
                  const std::string& source_language, bool json, std::string& out,
                  Reporter& reporter) {
    if (!paths_given({{source_path, "Please give a source MOD file."}}, reporter)) return false;
    ModuleArchive archive;
    InputFile source;
    if (!open_module(archive, source_path, reporter)) return false;
    if (!source.open(source_path)) {
        report(reporter, Severity::error, "Error opening file: %s\n", source_path.c_str());
        return false;
    }
    StatsCounter counter(selection.from_mask, resolve_code_pages(choices, selection.from_mask));
    if (!walk_module_entries(archive, source, selection, reporter,
                             [&counter](const ResourceEntries& entries) { counter.add(entries); })) {
        return false;
    }
    std::optional<std::map<std::string, Progress>> progress;
    if (!text_path.empty()) {
        Bytes bytes;
        if (!read_whole_text(text_path, bytes, reporter)) return false;
        const std::string_view view = text_of(bytes);
        if (catalogue) {
            std::string error;
            progress = catalogue_progress(view, error);
            if (!progress) {
                report(reporter, Severity::error, "Error: %s, %s!\n", text_path.c_str(), error.c_str());
                return false;
            }
        } else {
            progress = text_progress(view, source_language);
        }
    }
    const std::map<std::string, Progress>* text = progress ? &*progress : nullptr;
    const std::size_t slash = source_path.find_last_of("/\\");
    out = json ? stats_json(source_path.substr(slash == std::string::npos ? 0 : slash + 1), counter.stats(), text)
               : stats_table(counter.stats(), text);
    return true;
}

namespace {

// Where a rehearsed import's diagnostics go: kept as findings, and unless
// they go out as JSON, on to the user's reporter as the import tells them.
class RehearsalReporter final : public Reporter {
public:
    RehearsalReporter(Reporter& shown, bool keep) : shown_(shown), keep_(keep) {
        set_caps_warnings(shown.caps_warnings());
    }
    bool wants(Severity severity) const override {
        return severity != Severity::progress || (!keep_ && shown_.wants(severity));
    }
    void diagnostic(Severity severity, std::string_view text) override {
        if (severity == Severity::progress) return shown_.diagnostic(severity, text);
        problems = true;
        if (!keep_) shown_.diagnostic(severity, text);
        Finding& finding = findings.emplace_back();
        finding.severity = severity == Severity::error ? "error" : "warning";
        finding.kind = "import";
        while (text.ends_with('\n')) text.remove_suffix(1);
        finding.message = std::string(text);
        // The line the message names, if it names one.
        for (std::size_t at = text.find("line "); at != std::string_view::npos; at = text.find("line ", at + 1)) {
            std::size_t line = 0, i = at + 5;
            for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) line = line * 10 + static_cast<std::size_t>(text[i] - '0');
            if (i == at + 5) continue;
            finding.line = line;
            break;
        }
    }
    void error_box(std::string_view text) override { diagnostic(Severity::error, text); }
    void info_box(std::string_view) override {}
    void kept_text(std::string_view) override {}

    std::vector<Finding> findings;
    bool problems = false;

private:
    Reporter& shown_;
    bool keep_;
};

}  // namespace

bool check_text(const std::string& source_path, const std::string& text_path, bool po,
                const SelectionState& selection, const TextEncodingOptions& encoding,
                const PoImportOptions& catalogue, const std::string& source_language, bool json,
                std::string& out, Reporter& reporter) {
    if (!paths_given({{source_path, "Please give a source MOD file."},
                      {text_path, "Please give a text file to import from."}},
                     reporter)) {
        return false;
    }
    RehearsalReporter rehearsal(reporter, json);
    try {
        ModuleArchive archive;
        if (open_module(archive, source_path, rehearsal)) {
            if (po) {
                PoImportOptions options = catalogue;
                options.rehearse = true;
                std::string summary;
                import_po(archive, text_path, {}, options, rehearsal, summary);
            } else {
                rehearse_import(archive, text_path, selection, rehearsal, encoding);
            }
        }
        report_left_out_warnings(rehearsal);

        // The text itself, once more, for its translations. One that cannot
        // be read is told of here only when the rehearsal told of nothing:
        // it has told why when it got as far as the text.
        SilentReporter told_already;
        Reporter& told = rehearsal.problems ? static_cast<Reporter&>(told_already) : rehearsal;
        Bytes bytes;
        if (read_whole_text(text_path, bytes, told)) {
            const std::string_view text = text_of(bytes);
            std::vector<Finding> found;
            if (po) {
                PoCatalogue read;
                if (!read_po(text, read)) {
                    const auto row = catalogue.to_row ? catalogue.to_row : catalogue_language(read);
                    found = check_catalogue(read, row ? LanguageTable[*row].key : std::string_view("unknown"),
                                            catalogue.use_fuzzy);
                }
            } else {
                const TextEntries entries = read_text_entries(text);
                std::vector<std::string> given;
                if (!source_language.empty()) given.push_back(source_language);
                found = check_translations(entries, source_languages(entries, given), selection.from_mask);
            }
            rehearsal.findings.insert(rehearsal.findings.end(), found.begin(), found.end());
        }
    } catch (const std::bad_alloc&) {
        report(rehearsal, Severity::error, "Error: not enough memory to finish!\n");
    }
    const bool clean = !rehearsal.problems && !has_problems(rehearsal.findings);
    out = json ? findings_json(rehearsal.findings) : findings_table(rehearsal.findings);
    return clean;
}

namespace {

void report_unread_lines(const TextEntries& entries, const std::string& path, Reporter& reporter) {
    for (const std::size_t line : entries.unread_lines) {
        report(reporter, Severity::warning, "Warning: %s line %zu is no entry update can read; it is passed over.\n",
               path.c_str(), line);
    }
}

}  // namespace

bool update_text(const std::string& old_path, const std::string& new_path, const std::string& out_path,
                 const UpdateOptions& options, Reporter& reporter) {
    if (!paths_given({{old_path, "Please give the old text file."},
                      {new_path, "Please give the new text file."},
                      {out_path, "Please give a text file to write to."}},
                     reporter)) {
        return false;
    }
    // Both texts are read whole before the output replaces its target, which
    // may be either of them.
    return run_action(reporter, "Update complete!", [&](std::string& summary) {
        Bytes old_bytes;
        Bytes new_bytes;
        if (!read_whole_text(old_path, old_bytes, reporter) || !read_whole_text(new_path, new_bytes, reporter)) {
            return false;
        }
        const TextEntries old_entries = read_text_entries(text_of(old_bytes));
        const TextEntries new_entries = read_text_entries(text_of(new_bytes));
        if (!options.encoding && old_entries.utf8 != new_entries.utf8) {
            const std::string& utf8 = old_entries.utf8 ? old_path : new_path;
            const std::string& raw = old_entries.utf8 ? new_path : old_path;
            report(reporter, Severity::error,
                   "Error: %s is in UTF-8 and %s is raw; update needs both in one encoding!\n", utf8.c_str(),
                   raw.c_str());
            return false;
        }
        for (const auto& [entries, path] : {std::pair{&old_entries, &old_path}, std::pair{&new_entries, &new_path}}) {
            if (entries->blocks.empty()) {
                report(reporter, Severity::error,
                       "Error: %s has no \"#File:\" block; is it a translation text?\n", path->c_str());
                return false;
            }
        }
        report_unread_lines(old_entries, old_path, reporter);
        report_unread_lines(new_entries, new_path, reporter);
        StagedOutput out;
        if (!out.create(out_path)) {
            report_file_problem(reporter, out.problem(), out_path);
            return false;
        }
        const UpdateCounts counts =
            merge_update(old_entries, old_path, text_of(new_bytes), new_entries,
                         source_languages(new_entries, options.sources),
                         [&out](std::string_view piece) { out.write(piece); }, reporter);
        if (!out.commit()) {
            report(reporter, Severity::error, "Error writing file: %s\n", out_path.c_str());
            return false;
        }
        summary = update_summary(counts);
        return true;
    });
}

}  // namespace modtext
