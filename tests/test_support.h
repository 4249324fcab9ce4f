// What the tests share: a reporter that records everything, scratch files,
// and small readers of what the tool wrote.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "core/reporter.h"
#include "tools/modbuild.h"

namespace modtext::testing {

class RecordingReporter final : public Reporter {
public:
    bool wants(Severity) const override { return true; }
    void diagnostic(Severity severity, std::string_view text) override {
        (severity == Severity::progress ? progress : problems) += text;
    }
    void error_box(std::string_view text) override { error_boxes.emplace_back(text); }
    void info_box(std::string_view text) override { info_boxes.emplace_back(text); }
    void kept_text(std::string_view text) override { kept.emplace_back(text); }
    void summary(std::string_view text) override { summaries.emplace_back(text); }

    std::string progress;
    std::string problems;  // warnings and errors, in order
    std::vector<std::string> error_boxes;
    std::vector<std::string> info_boxes;
    std::vector<std::string> kept;
    std::vector<std::string> summaries;
};

// A fresh, empty directory for one test.
inline std::filesystem::path scratch_dir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    auto dir = std::filesystem::path(MODTEXT_TEST_SCRATCH) /
               (std::string(info->test_suite_name()) + "." + info->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline std::string read_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_text(const std::filesystem::path& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

inline void write_module(const std::filesystem::path& path,
                         const std::vector<build::ModuleResource>& resources,
                         const build::ModuleOptions& options = {}) {
    build::write_file(path.string(), build::module_bytes(resources, options));
}

inline build::Bytes script_bytes(std::string_view text) { return build::to_bytes(text); }

// A copy of viewed bytes, to compare.
inline build::Bytes bytes_of(std::span<const std::uint8_t> view) {
    return build::Bytes(view.begin(), view.end());
}

// Files left in a directory, by name.
inline std::vector<std::string> files_in(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace modtext::testing
