#include "translation/binding.h"

#include <unordered_map>

#include "translation/text_format.h"

namespace modtext {

std::string resource_header_name(const ModuleArchive& archive, std::size_t resource,
                                 InputFile& source) {
    const KeyEntry& key = archive.keys[resource];
    std::string letters = "NSS";
    if (key.type() != resource_type::script) {
        // A GFF's kind is its header's first three bytes; a resource too short
        // to hold them has no kind a header can name.
        const ResourceEntry& entry = archive.resources[resource];
        std::uint8_t head[3];
        if (entry.size < sizeof head || !source.read_into(entry.offset, sizeof head, head)) return {};
        letters.assign(reinterpret_cast<const char*>(head), sizeof head);
    }
    return header_part(key.name()) + '.' + header_part(letters);
}

namespace {

// Whether the resource at index is the one a header names. A resource whose
// kind cannot be read (it lies outside the file, or is too short to have
// one) is taken on its name: its rebuild then says what is wrong with it.
bool named_at(const ModuleArchive& archive, std::size_t index, InputFile& source,
              const std::string& header) {
    const std::string name = header_part(archive.keys[index].name()) + '.';
    if (header.compare(0, name.size(), name) != 0) return false;
    const std::string found = resource_header_name(archive, index, source);
    return found.empty() || found == header;
}

std::string not_at_index(TextNumber index, bool in_module, const std::string& header) {
    if (index == no_text_number) return "its index is too large for any module";
    if (!in_module) return "the module has no resource " + std::to_string(index);
    return "resource " + std::to_string(index) + " is not " + header;
}

}  // namespace

BlockBinding::BlockBinding(const TranslationTable& table, const ModuleArchive& archive,
                           InputFile& source, Reporter& reporter)
    : table_(table), record_of_(archive.count(), none) {
    // Resources by name, made only when a block is not found at its index.
    std::unordered_map<std::string, std::vector<std::size_t>> by_name;
    const auto resources_named = [&](const std::string& wanted) -> const std::vector<std::size_t>& {
        if (by_name.empty()) {
            for (std::size_t i = 0; i < archive.count(); ++i) {
                by_name[resource_header_name(archive, i, source)].push_back(i);
            }
        }
        static const std::vector<std::size_t> nothing;
        const auto found = by_name.find(wanted);
        return found == by_name.end() ? nothing : found->second;
    };
    for (std::size_t ordinal = 0; ordinal < table.record_count(); ++ordinal) {
        const FileRecord record = table.record(ordinal);
        const std::string header = std::string(record.name) + '.' + std::string(record.letters);
        const int line = static_cast<int>(record.header_line());
        const TextNumber index = record.resource_index;
        std::size_t resource = none;
        const bool in_module = index >= 0 && static_cast<std::uint64_t>(index) < archive.count();
        if (in_module && named_at(archive, static_cast<std::size_t>(index), source, header)) {
            resource = static_cast<std::size_t>(index);
        } else {
            const std::vector<std::size_t>& named = resources_named(header);
            if (named.size() == 1) {
                resource = named.front();
                report(reporter, Severity::warning, "WARNING: Block %s on line %d applied to resource %zu! (%s)\n",
                       header.c_str(), line, resource, not_at_index(index, in_module, header).c_str());
            } else {
                report(reporter, Severity::warning, "WARNING: Block %s on line %d skipped! (%s)\n",
                       header.c_str(), line,
                       (named.empty() ? "no resource of the module is " + header
                                      : std::to_string(named.size()) + " resources are " + header +
                                            ", and " + not_at_index(index, in_module, header))
                           .c_str());
                continue;
            }
        }
        if (record_of_[resource] != none) {
            report(reporter, Severity::warning, "WARNING: Block %s on line %d skipped! (%s)\n",
                   header.c_str(), line,
                   ("a second block for resource " + std::to_string(resource) + "; the first counts").c_str());
            continue;
        }
        record_of_[resource] = ordinal;
        ++bound_;
    }
}

std::optional<FileRecord> BlockBinding::find(std::size_t resource) const {
    if (resource >= record_of_.size() || record_of_[resource] == none) return std::nullopt;
    return table_.record(record_of_[resource]);
}

}  // namespace modtext
