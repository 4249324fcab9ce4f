// The GNU gettext library as the judge of catalogues the project reads:
// each entry's context, msgid, msgstr and fuzziness, and every comment, as
// libgettextpo reads them and as our reader does.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace modtext::testing {

// Whether a program of the GNU gettext tools is on the path (never under
// Wine: they are judges of the Linux build).
inline bool have_tool(const std::string& tool) {
#ifdef _WIN32
    (void)tool;
    return false;
#else
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
#endif
}

// Runs a shell command, its errors unseen; its exit status.
inline int run(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()); }

// Whether the tests were built with libgettextpo (never on Windows).
bool have_libgettextpo();

// Whether libgettextpo and our reader read the same entries from the
// bytes, written as a file into dir.
::testing::AssertionResult libgettextpo_agrees(const std::filesystem::path& dir, const std::string& bytes);

}  // namespace modtext::testing
