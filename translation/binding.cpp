#include "translation/binding.h"

#include <unordered_map>

#include "translation/text_format.h"

namespace modtext {

std::string resource_header_name(const ModuleArchive& archive, std::size_t resource,
                                 InputFile& source, TextEncoding encoding) {
    return resource_header_name(archive.keys[resource], archive.resources[resource], source, encoding);
}

std::string resource_header_name(const KeyEntry& key, const ResourceEntry& place, InputFile& source,
                                 TextEncoding encoding) {
    std::string letters = "NSS";
    if (key.type() != resource_type::script) {
        // A GFF's kind is its header's first three bytes; a resource too short
        // to hold them has no kind a header can name.
        std::uint8_t head[3];
        if (place.size < sizeof head || !source.read_into(place.offset, sizeof head, head)) return {};
        letters.assign(reinterpret_cast<const char*>(head), sizeof head);
    }
    return header_part(key.name(), encoding) + '.' + header_part(letters, encoding);
}

namespace {

std::string not_at_index(TextNumber index, bool in_module, const std::string& header) {
    if (index == no_text_number) return "its index is too large for any module";
    if (!in_module) return "the module has no resource " + std::to_string(index);
    return "resource " + std::to_string(index) + " is not " + header;
}

}  // namespace

BlockBinding::BlockBinding(const TranslationTable& table, const ModuleArchive& archive,
                           InputFile& source, Reporter& reporter)
    : table_(table), record_of_(archive.count(), none) {
    // Each resource's name and kind, read once, when a block first names it.
    std::vector<std::string> names(archive.count());
    std::vector<bool> named(archive.count(), false);
    const auto name_of = [&](std::size_t i) -> const std::string& {
        if (!named[i]) {
            names[i] = resource_header_name(archive, i, source, table.encoding);
            named[i] = true;
        }
        return names[i];
    };
    // Resources by name, made only when a block is not found at its index.
    std::unordered_map<std::string, std::vector<std::size_t>> by_name;
    const auto resources_named = [&](const std::string& wanted) -> const std::vector<std::size_t>& {
        if (by_name.empty()) {
            for (std::size_t i = 0; i < archive.count(); ++i) by_name[name_of(i)].push_back(i);
        }
        static const std::vector<std::size_t> nothing;
        const auto found = by_name.find(wanted);
        return found == by_name.end() ? nothing : found->second;
    };
    // A block like the one before is bound alike: a text that repeats one
    // header millions of times costs a comparison a block.
    struct Decision {
        std::string_view name, letters;
        TextNumber index = no_text_number;
        std::string header;
        std::size_t resource = none;
        std::string moved_or_skipped;  // the reason, when not bound at its index
        bool valid = false;
    } last;
    for (std::size_t ordinal = 0; ordinal < table.record_count(); ++ordinal) {
        const FileRecord record = table.record(ordinal);
        const int line = static_cast<int>(record.header_line());
        if (!last.valid || record.name != last.name || record.letters != last.letters ||
            record.resource_index != last.index) {
            last = {record.name, record.letters, record.resource_index,
                    std::string(record.name) + '.' + std::string(record.letters), none, {}, true};
            const TextNumber index = record.resource_index;
            const bool in_module = index >= 0 && static_cast<std::uint64_t>(index) < archive.count();
            // A resource whose kind cannot be read (it lies outside the file,
            // or is too short to have one) is taken on its name: its rebuild
            // then says what is wrong with it.
            const std::string* here = in_module ? &name_of(static_cast<std::size_t>(index)) : nullptr;
            if (here && (*here == last.header ||
                         (here->empty() &&
                          last.header == header_part(archive.keys[static_cast<std::size_t>(index)].name(),
                                                     table.encoding) + '.' +
                                             std::string(record.letters)))) {
                last.resource = static_cast<std::size_t>(index);
            } else {
                const std::vector<std::size_t>& candidates = resources_named(last.header);
                if (candidates.size() == 1) last.resource = candidates.front();
                last.moved_or_skipped =
                    candidates.size() == 1 ? not_at_index(index, in_module, last.header)
                    : candidates.empty()   ? "no resource of the module is " + last.header
                                           : std::to_string(candidates.size()) + " resources are " + last.header +
                                               ", and " + not_at_index(index, in_module, last.header);
            }
        }
        if (last.resource == none) {
            report(reporter, Severity::warning, "WARNING: Block %s on line %d skipped! (%s)\n", last.header.c_str(),
                   line, last.moved_or_skipped.c_str());
            continue;
        }
        if (!last.moved_or_skipped.empty()) {
            report(reporter, Severity::warning, "WARNING: Block %s on line %d applied to resource %zu! (%s)\n",
                   last.header.c_str(), line, last.resource, last.moved_or_skipped.c_str());
        }
        if (record_of_[last.resource] != none) {
            report(reporter, Severity::warning,
                   "WARNING: Block %s on line %d skipped! (a second block for resource %zu; the first counts)\n",
                   last.header.c_str(), line, last.resource);
            continue;
        }
        record_of_[last.resource] = ordinal;
        ++bound_;
    }
}

std::optional<FileRecord> BlockBinding::find(std::size_t resource) const {
    if (resource >= record_of_.size() || record_of_[resource] == none) return std::nullopt;
    return table_.record(record_of_[resource]);
}

}  // namespace modtext
