#include "formats/module_archive.h"

#include "formats/gff_image.h"

#include <algorithm>
#include <cstring>

namespace modtext {

std::string_view ArchiveHeader::version() const {
    return std::string_view(reinterpret_cast<const char*>(&raw[4]), 4);
}

std::string KeyEntry::name() const {
    const auto* begin = reinterpret_cast<const char*>(raw.data());
    const auto* end = static_cast<const char*>(std::memchr(begin, 0, 16));
    return std::string(begin, end ? end : begin + 16);
}

namespace {

bool read_table(InputFile& file, const std::string& path, const char* what,
                std::uint64_t offset, std::uint64_t size, Bytes& out, Reporter& reporter) {
    if (!extent_within(offset, size, file.size())) {
        report(reporter, Severity::error, "Error: the %s of %s lies outside the file!\n", what,
               path.c_str());
        return false;
    }
    if (!file.read_at(offset, size, out)) {
        report(reporter, Severity::error, "Error reading file: %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool open_module(ModuleArchive& archive, const std::string& path, Reporter& reporter) {
    InputFile file;
    if (!file.open(path)) {
        report_file_problem(reporter, file.problem(), path);
        return false;
    }
    return read_module_tables(archive, file, path, reporter);
}

namespace {

// Whether a file's first eight bytes read as an archive's: four type letters
// and a version "V<digit>.<digit>". A text or anything else given in a
// module's place does not.
bool looks_like_archive(ByteView head) {
    const auto digit = [](std::uint8_t c) { return c >= '0' && c <= '9'; };
    return head.size() >= 8 && head[4] == 'V' && digit(head[5]) && head[6] == '.' && digit(head[7]);
}

void report_not_archive(Reporter& reporter, const std::string& path) {
    report(reporter, Severity::error, "Error: %s is not a module archive!\n", path.c_str());
}

}  // namespace

bool read_module_tables(ModuleArchive& archive, InputFile& file, const std::string& path,
                        Reporter& reporter) {
    if (file.size() < archive_header_size) {
        Bytes head;
        if (!file.read_at(0, std::min<std::uint64_t>(file.size(), 8), head) ||
            !looks_like_archive(head)) {
            report_not_archive(reporter, path);
        } else {
            report(reporter, Severity::error, "Error: %s is too short to be a MOD file!\n",
                   path.c_str());
        }
        return false;
    }
    ModuleArchive loaded;
    loaded.source_path = path;
    Bytes header;
    if (!file.read_at(0, archive_header_size, header)) {
        report(reporter, Severity::error, "Error reading file: %s\n", path.c_str());
        return false;
    }
    std::copy(header.begin(), header.end(), loaded.header.raw.begin());
    if (!looks_like_archive(header)) {
        report_not_archive(reporter, path);
        return false;
    }
    if (loaded.header.version() != "V1.0") {
        const std::string version(loaded.header.version());
        report(reporter, Severity::error,
               "Error: %s is a MOD file of version \"%s\"; only V1.0 can be read!\n",
               path.c_str(), version.c_str());
        return false;
    }

    const std::int32_t signed_count = loaded.header.entry_count();
    const std::uint64_t count = signed_count > 0 ? static_cast<std::uint64_t>(signed_count) : 0;
    report(reporter, Severity::progress, "MOD Info:\n");
    report(reporter, Severity::progress, "# resources: %d\n", signed_count);

    const ArchiveHeader& h = loaded.header;
    Bytes keys, resources;
    if (!read_table(file, path, "localized-string block", h.locstring_block_offset(),
                    h.locstring_block_size(), loaded.locstring_block, reporter) ||
        !read_table(file, path, "key list", h.key_list_offset(), count * key_entry_size, keys,
                    reporter) ||
        !read_table(file, path, "gap block", std::uint64_t{h.key_list_offset()} + keys.size(),
                    count * resource_entry_size, loaded.gap_block, reporter) ||
        !read_table(file, path, "resource list", h.resource_list_offset(),
                    count * resource_entry_size, resources, reporter)) {
        return false;
    }

    // The tables lie within the file, so the count fits memory.
    loaded.keys.resize(static_cast<std::size_t>(count));
    loaded.resources.resize(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(loaded.keys[i].raw.data(), &keys[i * key_entry_size], key_entry_size);
        loaded.resources[i] = {load_u32(&resources[i * resource_entry_size]),
                               load_u32(&resources[i * resource_entry_size + 4])};
    }
    loaded.loaded = true;
    archive = std::move(loaded);
    return true;
}

bool resource_fits(const InputFile& source, const ModuleArchive& archive, std::size_t index) {
    const ResourceEntry& entry = archive.resources[index];
    return extent_within(entry.offset, entry.size, source.size());
}

bool resource_fits(const InputFile& source, const ModuleArchive& archive, std::size_t index,
                   Reporter& reporter) {
    if (resource_fits(source, archive, index)) return true;
    const ResourceEntry& entry = archive.resources[index];
    const std::string name = archive.keys[index].name();
    report(reporter, Severity::error,
           "Error: resource %zu (%s) lies outside the MOD file (offset %u, size %u)!\n", index,
           name.c_str(), entry.offset, entry.size);
    return false;
}

namespace {

template <typename Buffer>
bool read_resource_into(InputFile& source, const ModuleArchive& archive, std::size_t index,
                        Buffer& out, Reporter& reporter) {
    const ResourceEntry& entry = archive.resources[index];
    if (!resource_fits(source, archive, index, reporter)) return false;
    if (!source.read_at(entry.offset, entry.size, out)) {
        report_unread_resource(reporter, archive, index);
        return false;
    }
    return true;
}

}  // namespace

void report_unread_resource(Reporter& reporter, const ModuleArchive& archive, std::size_t index) {
    const std::string name = archive.keys[index].name();
    report(reporter, Severity::error, "Error reading resource %zu (%s) from %s\n", index,
           name.c_str(), archive.source_path.c_str());
}

bool read_resource(InputFile& source, const ModuleArchive& archive, std::size_t index,
                   ReadBuffer& out, Reporter& reporter) {
    return read_resource_into(source, archive, index, out, reporter);
}

bool read_resource(InputFile& source, const ModuleArchive& archive, std::size_t index,
                   Bytes& out, Reporter& reporter) {
    return read_resource_into(source, archive, index, out, reporter);
}

bool read_gff_resource(InputFile& source, const ModuleArchive& archive, std::size_t index,
                       ReadBuffer& out, std::string& why, Reporter& reporter) {
    why.clear();
    if (!resource_fits(source, archive, index, reporter)) return false;
    const ResourceEntry& entry = archive.resources[index];
    GffHeader header;
    std::uint64_t extent = 0;
    if (entry.size >= gff_header_size &&
        !source.read_into(entry.offset, gff_header_size, header.raw.data())) {
        report_unread_resource(reporter, archive, index);
        return false;
    }
    if (!gff_extent(header, entry.size, extent, why)) return false;
    if (!source.read_at(entry.offset, extent, out)) {
        report_unread_resource(reporter, archive, index);
        return false;
    }
    return true;
}

bool open_source(const ModuleArchive& archive, InputFile& source, Reporter& reporter) {
    if (!archive.loaded) {
        report(reporter, Severity::error, "Error: MOD file not properly read!\n");
        return false;
    }
    if (!source.open(archive.source_path)) {
        report_file_problem(reporter, source.problem(), archive.source_path);
        return false;
    }
    return true;
}

bool create_target(StagedOutput& target, const std::string& target_path, Reporter& reporter) {
    if (target.create(target_path)) return true;
    report_file_problem(reporter, target.problem(), target_path);
    return false;
}

bool open_source_and_target(const ModuleArchive& archive, InputFile& source,
                            StagedOutput& target, const std::string& target_path,
                            Reporter& reporter) {
    return open_source(archive, source, reporter) && create_target(target, target_path, reporter);
}

bool finish_target(InputFile& source, StagedOutput& target, Reporter& reporter) {
    source.close();
    if (!target.commit()) {
        report(reporter, Severity::error, "Error writing file: %s\n", target.target_path().c_str());
        return false;
    }
    return true;
}

}  // namespace modtext
