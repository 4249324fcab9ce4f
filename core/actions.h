// The two things a user does with a module: export its text and import a
// translation into a new module.
#pragma once

#include <string>

#include "core/languages.h"
#include "core/reporter.h"

namespace modtext {

// A path counts as given when it is not empty.
bool path_given(const std::string& path);

// Exports the text of the source module to text_path. Tells the user the
// outcome through the reporter's boxes; returns whether it succeeded.
bool export_module(const std::string& source_path, const std::string& text_path,
                   const SelectionState& selection, Reporter& reporter);

// Writes a new module from the source module and the translation text at
// text_path to output_path.
bool import_module(const std::string& source_path, const std::string& text_path,
                   const std::string& output_path, const SelectionState& selection,
                   Reporter& reporter);

}  // namespace modtext
