// The two things a user does with a module: export its text and import a
// translation into a new module.
#pragma once

#include <string>

#include "core/code_page.h"
#include "core/languages.h"
#include "core/reporter.h"
#include "translation/po_catalogue.h"
#include "translation/text_update.h"

namespace modtext {

// A path counts as given when it is not empty.
bool path_given(const std::string& path);

// Exports the text of the source module to text_path, raw unless the
// options ask for UTF-8. Tells the user the outcome through the reporter's
// boxes; returns whether it succeeded.
bool export_module(const std::string& source_path, const std::string& text_path,
                   const SelectionState& selection, Reporter& reporter,
                   const TextEncodingOptions& options = {});

// Writes a new module from the source module and the translation text at
// text_path to output_path. The text is read as UTF-8 when it starts with a
// byte order mark or its settings line says so, and raw otherwise, unless
// the options force one.
bool import_module(const std::string& source_path, const std::string& text_path,
                   const std::string& output_path, const SelectionState& selection,
                   Reporter& reporter, const TextEncodingOptions& options = {});

// Exports the source module's texts as a PO catalogue (or its template) to
// po_path; tells the outcome as export_module does.
bool export_catalogue(const std::string& source_path, const std::string& po_path,
                      const PoExportOptions& options, Reporter& reporter);

// Writes a new module from the source module and the PO catalogue at
// po_path to output_path; tells the outcome as import_module does.
bool import_catalogue(const std::string& source_path, const std::string& po_path,
                      const std::string& output_path, const PoImportOptions& options, Reporter& reporter);

// The window's actions, which pick the format by the text path: a path
// ending in ".po" exports a catalogue for the first ticked target language,
// with the first ticked source language as its source, and imports one;
// any other path, the translation text.
bool export_by_path(const std::string& source_path, const std::string& text_path,
                    const SelectionState& selection, Reporter& reporter);
bool import_by_path(const std::string& source_path, const std::string& text_path,
                    const std::string& output_path, const SelectionState& selection, Reporter& reporter);

// Whether a path names a catalogue by its extension: ".po", or ".pot" for a
// template, in any case.
bool is_po_path(const std::string& path);
bool is_pot_path(const std::string& path);

// Counts the strings, words and characters of the source module's entries
// that the selection's languages and filter take, and with a text (a PO
// catalogue when catalogue is set) how far it has got; the result, as a
// table or JSON, in out.
bool module_stats(const std::string& source_path, const std::string& text_path, bool catalogue,
                  const SelectionState& selection, const CodePageChoices& choices,
                  const std::string& source_language, bool json, std::string& out,
                  Reporter& reporter);

// A dry run of the import of the text (with po, a catalogue) into the
// source module, which writes nothing, and a check of each translation
// against its source text. The findings, as lines or JSON, go
// to out; the import's own diagnostics go to the reporter, or with json
// into out too. True when there is no error or warning (notes allowed).
bool check_text(const std::string& source_path, const std::string& text_path, bool po,
                const SelectionState& selection, const TextEncodingOptions& encoding,
                const PoImportOptions& catalogue, const std::string& source_language, bool json,
                std::string& out, Reporter& reporter);

// Writes to out_path the text at new_path, a fresh export, with the filled
// lines of the text at old_path carried over (see translation/text_update.h);
// out_path may be either input. Both texts must be in one encoding unless
// the options force one. The summary tells what was carried.
bool update_text(const std::string& old_path, const std::string& new_path, const std::string& out_path,
                 const UpdateOptions& options, Reporter& reporter);

}  // namespace modtext
