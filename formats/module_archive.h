// The module archive: a 160-byte header, a localized-string block, a key list
// naming every resource and a resource list placing it in the file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/reporter.h"
#include "formats/byte_reader.h"
#include "formats/files.h"

namespace modtext {

inline constexpr std::size_t archive_header_size = 160;
inline constexpr std::size_t key_entry_size = 24;
inline constexpr std::size_t resource_entry_size = 8;

// The header as read; only the fields with accessors are interpreted, every
// other byte is carried to an output unchanged.
struct ArchiveHeader {
    std::array<std::uint8_t, archive_header_size> raw{};

    std::string_view version() const;
    std::uint32_t locstring_block_size() const { return load_u32(&raw[12]); }
    std::int32_t entry_count() const { return static_cast<std::int32_t>(load_u32(&raw[16])); }
    std::uint32_t locstring_block_offset() const { return load_u32(&raw[20]); }
    std::uint32_t key_list_offset() const { return load_u32(&raw[24]); }
    std::uint32_t resource_list_offset() const { return load_u32(&raw[28]); }

    void set_locstring_block_offset(std::uint32_t v) { store_u32(&raw[20], v); }
    void set_key_list_offset(std::uint32_t v) { store_u32(&raw[24], v); }
    void set_resource_list_offset(std::uint32_t v) { store_u32(&raw[28], v); }
};

struct KeyEntry {
    std::array<std::uint8_t, key_entry_size> raw{};

    // The name up to its first zero byte, at most 16 bytes.
    std::string name() const;
    std::uint16_t type() const { return load_u16(&raw[20]); }
};

struct ResourceEntry {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
};

// Resource types the tool knows by number.
namespace resource_type {
inline constexpr std::uint16_t script = 2009;
inline constexpr std::uint16_t area = 2012;
inline constexpr std::uint16_t module_info = 2014;
inline constexpr std::uint16_t always_a = 2015;
inline constexpr std::uint16_t game_instance = 2023;
inline constexpr std::uint16_t conversation = 2029;
inline constexpr std::uint16_t always_b = 2038;
inline constexpr std::uint16_t journal = 2056;
// Templates players read names and descriptions of: GFF resources with
// localized strings. The first four are passed over without a word unless
// asked for; the others are reported as types export does not visit.
inline constexpr std::array<std::uint16_t, 4> quiet_templates = {2025, 2027, 2044, 2058};
inline constexpr std::array<std::uint16_t, 5> reported_templates = {2032, 2035, 2040, 2042, 2051};
}  // namespace resource_type

struct ModuleArchive {
    std::string source_path;
    ArchiveHeader header;
    Bytes locstring_block;
    std::vector<KeyEntry> keys;
    Bytes gap_block;  // entry count x 8 bytes found right after the key list
    std::vector<ResourceEntry> resources;
    bool loaded = false;

    std::size_t count() const { return keys.size(); }
};

// Reads a module's tables, replacing what the archive held only on success.
// Refuses a file whose version is not "V1.0" or whose header or tables do
// not lie within it, with a reported message.
bool open_module(ModuleArchive& archive, const std::string& path, Reporter& reporter);

// The same from a file already open, read as `path`.
bool read_module_tables(ModuleArchive& archive, InputFile& file, const std::string& path,
                        Reporter& reporter);

// Whether resource index's extent lies within the open source.
bool resource_fits(const InputFile& source, const ModuleArchive& archive, std::size_t index);

// The same, reporting a resource that lies outside the file.
bool resource_fits(const InputFile& source, const ModuleArchive& archive, std::size_t index,
                   Reporter& reporter);

// The error of a resource whose read came back short.
void report_unread_resource(Reporter& reporter, const ModuleArchive& archive, std::size_t index);

// Reads resource index's bytes from the open source. A resource whose extent
// leaves the file is reported and not read, and so is a read that comes back
// short (the file changed while it was read).
bool read_resource(InputFile& source, const ModuleArchive& archive, std::size_t index,
                   ReadBuffer& out, Reporter& reporter);
bool read_resource(InputFile& source, const ModuleArchive& archive, std::size_t index,
                   Bytes& out, Reporter& reporter);

// Reads a GFF resource: its header first, then only as far as its sections
// reach once they lie within the resource, so that a damaged one is never
// read whole. Fails with the damage in `why`, or with `why` empty when the
// file could not be read (reported).
bool read_gff_resource(InputFile& source, const ModuleArchive& archive, std::size_t index,
                       ReadBuffer& out, std::string& why, Reporter& reporter);

// Reopens the loaded module's source, reported when it cannot be.
bool open_source(const ModuleArchive& archive, InputFile& source, Reporter& reporter);

// Starts the staged output for target_path, reported when it cannot be.
bool create_target(StagedOutput& target, const std::string& target_path, Reporter& reporter);

// Reopens the loaded module's source and starts the staged output for
// target_path: the common start of export and import.
bool open_source_and_target(const ModuleArchive& archive, InputFile& source,
                            StagedOutput& target, const std::string& target_path,
                            Reporter& reporter);

// Closes the source, then lets the complete target replace its path; the
// source must be closed first, as the target may be the source itself.
bool finish_target(InputFile& source, StagedOutput& target, Reporter& reporter);

}  // namespace modtext
