// Translation catalogues in the PO format of GNU gettext: the entry model,
// a reader over a whole catalogue in memory and a writer laid out as the
// gettext tools write. The project's own, because the Windows build has no
// gettext library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/bulk_buffer.h"

namespace modtext {

class InputFile;

// One entry. Its texts are views: into the catalogue's storage for a
// catalogue that was read, and into whatever its builder keeps alive
// (PoCatalogue::keep) for one built in memory. No text holds a NUL byte.
struct PoEntry {
    std::optional<std::string_view> msgctxt{};  // absent is not the same as empty
    std::string_view msgid{};
    std::optional<std::string_view> msgid_plural{};
    // The translation. An entry with msgid_plural holds its forms msgstr[0],
    // msgstr[1], ... here, each ended by a NUL byte.
    std::string_view msgstr{};

    // Comments, without their markers. Translator ("# ") and extracted
    // ("#. ") comments are lines, each ended by '\n'; references ("#:") are
    // words joined by one space; flags ("#,") are joined by commas.
    std::string_view translator_comments{};
    std::string_view extracted_comments{};
    std::string_view references{};
    std::string_view flags{};

    // What msgmerge keeps of a changed entry: the "#|" strings.
    std::optional<std::string_view> previous_msgctxt{};
    std::optional<std::string_view> previous_msgid{};
    std::optional<std::string_view> previous_msgid_plural{};

    bool obsolete = false;  // a "#~" entry
    std::size_t line = 0;   // where its msgid stands, from 1; 0 when built in memory

    bool has_flag(std::string_view flag) const;
    bool fuzzy() const { return has_flag("fuzzy"); }
    // The entry that holds the catalogue's header fields.
    bool is_header() const { return !msgctxt && msgid.empty() && !obsolete; }
    // Plural forms, or the one translation of an entry without msgid_plural.
    std::size_t msgstr_count() const;
    std::string_view msgstr_form(std::size_t index) const;
};

// One "Key: value" line of the header entry's msgstr.
struct PoHeaderField {
    std::string_view key;
    std::string_view value;
};

// The header's fields, in order; lines without a colon are not fields.
std::vector<PoHeaderField> po_header_fields(std::string_view header_msgstr);
// The first field of that key, its value without the blanks after the colon.
std::optional<std::string_view> po_header_field(std::string_view header_msgstr, std::string_view key);
// A header msgstr: "Key: value\n" for each field.
std::string po_header_text(std::span<const PoHeaderField> fields);

// Room for a catalogue's texts, that lives as long as it, moves included.
class PoStorage {
public:
    // A copy of text.
    std::string_view keep(std::string_view text);
    // Room for size bytes of its own that never moves, as keep.
    char* reserve(std::size_t size);
    // Bytes it keeps, where they stay, as keep.
    char* hold(BulkBuffer bytes);
    // Text in place of `kept`, a text it keeps that no other view shares:
    // written over it where it fits, or else kept as keep does.
    std::string_view replace(std::string_view kept, std::string_view text);

private:
    std::vector<BulkBuffer> blocks_;
    char* free_ = nullptr;  // what keep has left of its last block
    std::size_t left_ = 0;
};

class PoCatalogue : public PoStorage {
public:
    // In the order of the file: the header entry, where there is one, first.
    std::vector<PoEntry> entries;

    // The first entry, when it is the header.
    const PoEntry* header() const;
    std::optional<std::string_view> header_field(std::string_view key) const;
};

// What an import compares a msgid by: its 64-bit checksum, its length
// included.
std::uint64_t po_msgid_digest(std::string_view msgid);

// What an import takes of an entry: 72 bytes to a PoEntry's 232, for
// catalogues of a million entries. An import only asks whether a module's
// text is an entry's msgid, so the msgids, as large as the translations,
// are not kept but as their digests.
struct PoTranslationEntry {
    std::string_view msgctxt{};  // with has_msgctxt
    std::string_view msgid{};    // only without has_msgctxt, as the entry is shown by it
    std::uint64_t msgid_digest = 0;
    std::string_view msgstr{};  // plural forms as in PoEntry
    std::size_t line = 0;
    bool has_msgctxt = false;
    bool plural = false;  // it has a msgid_plural
    bool obsolete = false;
    bool fuzzy = false;
    // Its msgid holds only line feeds and printable ASCII characters but
    // "<": the only text of a code page that keeps ASCII that decodes to
    // it is itself.
    bool msgid_plain = false;
    // Its msgstr holds only those too: a translation stored as it is.
    bool msgstr_plain = false;

    bool is_header() const { return !has_msgctxt && msgid.empty() && !obsolete; }
    bool has_msgid(std::string_view text) const {
        return po_msgid_digest(text) == msgid_digest && (has_msgctxt || text == msgid);
    }
};

// The entries of a catalogue, by their place in it: the list each half's
// thread made, one after the other, so that the second half's is not copied
// to join them.
class PoTranslationList {
public:
    using value_type = PoTranslationEntry;

    std::size_t size() const { return first.size() + second.size(); }
    bool empty() const { return first.empty() && second.empty(); }
    PoTranslationEntry& operator[](std::size_t index) {
        return index < first.size() ? first[index] : second[index - first.size()];
    }
    const PoTranslationEntry& operator[](std::size_t index) const {
        return index < first.size() ? first[index] : second[index - first.size()];
    }
    const PoTranslationEntry& front() const { return (*this)[0]; }

    std::vector<PoTranslationEntry> first;
    std::vector<PoTranslationEntry> second;  // empty but for a catalogue read in halves
};

class PoTranslations : public PoStorage {
public:
    PoTranslationList entries;

    std::optional<std::string_view> header_field(std::string_view key) const;
};

// Why a catalogue could not be read: the line, counted from 1, and what was
// expected there.
struct PoError {
    std::size_t line = 0;
    std::string message;
    std::string text() const { return "line " + std::to_string(line) + ": " + message; }
};

// Reads a whole catalogue: UTF-8 byte order mark, LF or CR LF line ends,
// every comment kind, msgctxt, strings split over lines, the C escapes
// (\a \b \f \n \r \t \v \\ \" \? \' \NNN \xHH), plural forms and obsolete
// entries. Its texts are unescaped into storage the catalogue owns. A
// catalogue that does not parse (a NUL byte in a string, escaped or not,
// included), or that holds two entries of one context and msgid, gives an
// error and leaves `out` with no entries.
//
// A catalogue of halves_from bytes or more is read in two halves at once,
// split between two entries.
inline constexpr std::size_t po_halves_from = std::size_t{1} << 20;
[[nodiscard]] std::optional<PoError> read_po(std::string_view bytes, PoCatalogue& out,
                                             std::size_t halves_from = po_halves_from);
// The same, over bytes the catalogue then keeps: its texts are unescaped
// over them, and no other room is taken for them.
[[nodiscard]] std::optional<PoError> read_po(BulkBuffer bytes, PoCatalogue& out,
                                             std::size_t halves_from = po_halves_from);
// The same over a whole file, keeping of each entry what an import takes:
// no comment but its "fuzzy" flag. Each half is read a megabyte at a time
// by the thread that parses it, and only the texts kept take memory as
// large as the file. False when the file could not be read; error is then
// none.
[[nodiscard]] bool read_po_file(InputFile& file, PoTranslations& out, std::optional<PoError>& error,
                                std::size_t halves_from = po_halves_from);

// The width msgcat wraps at.
inline constexpr int po_default_width = 79;

// Writes entries as the gettext tools do: obsolete ones after the others,
// a blank line between two, comments in the order "#", "#.", "#:", "#,"
// (fuzzy first), "#|", strings escaped, and split after each "\n" and where
// a line would pass `width` columns. A width of 0 or less splits strings
// only after "\n", and references at 79 columns, as msgcat --no-wrap does.
void write_po(std::span<const PoEntry> entries, std::string& out, int width = po_default_width);
// One entry, without the blank line before it.
void write_po_entry(const PoEntry& entry, std::string& out, int width = po_default_width);

// Writes entries one at a time as write_po_entry, keeping the room it
// writes them in from one to the next.
class PoEntryWriter {
public:
    explicit PoEntryWriter(int width = po_default_width);
    ~PoEntryWriter();
    PoEntryWriter(const PoEntryWriter&) = delete;
    PoEntryWriter& operator=(const PoEntryWriter&) = delete;

    void write(const PoEntry& entry, std::string& out);

private:
    struct Room;
    int width_;
    std::unique_ptr<Room> room_;
};

}  // namespace modtext
