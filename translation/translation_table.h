// The edited translation text, parsed: one record per resource block, one
// variant per entry line. The table's own lists cost at most about twice the
// text, whatever the text repeats: a variant is 8 bytes and a record 16, both
// kept in fixed-size chunks, and what a line names beyond a position (a key,
// a string id, a resource index) is written over the bytes of the line's own
// prefix, which the parse no longer needs.
//
// A line's own line feed is never written over, and what is written over
// is known: so the line of a variant or header can be counted again from
// the storage once the parse is done.
#pragma once

#include <algorithm>
#include <compare>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/code_page.h"
#include "core/languages.h"
#include "core/reporter.h"
#include "formats/bulk_buffer.h"

namespace modtext {

// Resource indices and keys as written in the text. A number too large for a
// signed 32-bit value is kept as a value no resource, field or line has, so
// it names nothing rather than wrapping onto a small number.
using TextNumber = std::int64_t;
inline constexpr TextNumber no_text_number = std::int64_t{-1} << 40;

namespace table_detail {
inline std::int32_t load_i32(const char* at) {
    std::int32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}
// A stored key or index: the one value read_number never gives stands for
// no_text_number.
inline TextNumber widen(std::int32_t stored) {
    return stored == INT32_MIN ? no_text_number : TextNumber{stored};
}
}  // namespace table_detail

// A list that grows by fixed chunks: it never holds more than one chunk
// beyond its items, and never copies them to grow. Another list's chunks can
// be taken whole once: its items then follow a seam, past the unused end of
// the last chunk before it.
template <class T, unsigned ChunkBits>
class ChunkedList {
public:
    static constexpr std::size_t chunk_size = std::size_t{1} << ChunkBits;
    static constexpr std::size_t chunk_mask = chunk_size - 1;

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T& operator[](std::size_t i) { return slot(i); }
    const T& operator[](std::size_t i) const { return slot(i); }
    const T& back() const { return (*this)[size_ - 1]; }

    void push_back(const T& item) {
        const std::size_t place = physical(size_);
        if ((place & chunk_mask) == 0 && (place >> ChunkBits) == chunks_.size()) add_chunk();
        chunks_[place >> ChunkBits][place & chunk_mask] = item;
        ++size_;
    }
    // Appends other's items by taking its chunks, when neither has a seam
    // yet: nothing is copied, so nothing is held twice.
    void append_chunks(ChunkedList& other) {
        if (other.empty()) return;
        seam_ = size_;
        pad_ = chunks_.size() * chunk_size - size_;
        chunks_.insert(chunks_.end(), other.chunks_.begin(), other.chunks_.end());
        for (BulkBuffer& slab : other.slabs_) slabs_.push_back(std::move(slab));
        size_ += other.size_;
        other = ChunkedList{};
    }
    // Item i and those after it that lie next to it in memory: how many is
    // told in count, i's own included.
    const T* contiguous(std::size_t i, std::size_t& count) const {
        const std::size_t place = physical(i);
        count = chunk_size - (place & chunk_mask);
        if (i < seam_) count = std::min(count, seam_ - i);
        return &chunks_[place >> ChunkBits][place & chunk_mask];
    }
    // Bytes held: the chunks whole and the list of them.
    std::size_t held_bytes() const {
        return chunks_.size() * chunk_size * sizeof(T) + chunks_.capacity() * sizeof(chunks_[0]);
    }

    // Enough of a random-access iterator for std::sort and std::lower_bound.
    class iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = T*;
        using reference = T&;

        iterator() = default;
        iterator(ChunkedList* list, std::size_t i) : list_(list), i_(i) {}
        T& operator*() const { return (*list_)[i_]; }
        T& operator[](difference_type n) const { return (*list_)[i_ + static_cast<std::size_t>(n)]; }
        iterator& operator++() { ++i_; return *this; }
        iterator& operator--() { --i_; return *this; }
        iterator operator++(int) { iterator was = *this; ++i_; return was; }
        iterator operator--(int) { iterator was = *this; --i_; return was; }
        iterator& operator+=(difference_type n) { i_ += static_cast<std::size_t>(n); return *this; }
        iterator& operator-=(difference_type n) { i_ -= static_cast<std::size_t>(n); return *this; }
        friend iterator operator+(iterator it, difference_type n) { return it += n; }
        friend iterator operator+(difference_type n, iterator it) { return it += n; }
        friend iterator operator-(iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const iterator& a, const iterator& b) {
            return static_cast<difference_type>(a.i_) - static_cast<difference_type>(b.i_);
        }
        friend bool operator==(const iterator& a, const iterator& b) { return a.i_ == b.i_; }
        friend auto operator<=>(const iterator& a, const iterator& b) { return a.i_ <=> b.i_; }

    private:
        ChunkedList* list_ = nullptr;
        std::size_t i_ = 0;
    };
    iterator at(std::size_t i) { return iterator(this, i); }

private:
    static_assert(std::is_trivially_copyable_v<T>);
    // After the first chunk, chunks are cut from slabs of 64: a large text's
    // lists then lie in huge pages, where the first touch of each small page
    // would cost more than its use. Not zeroed: every slot is written before
    // it is read.
    void add_chunk() {
        if (slab_left_ == 0) {
            slab_left_ = slabs_.empty() ? 1 : 64;
            slabs_.emplace_back(slab_left_ * chunk_size * sizeof(T));
            slab_next_ = reinterpret_cast<T*>(slabs_.back().data());
        }
        chunks_.push_back(slab_next_);
        slab_next_ += chunk_size;
        --slab_left_;
    }
    std::size_t physical(std::size_t i) const { return i < seam_ ? i : i + pad_; }
    T& slot(std::size_t i) const {
        const std::size_t place = physical(i);
        return chunks_[place >> ChunkBits][place & chunk_mask];
    }

    std::vector<T*> chunks_;
    std::vector<BulkBuffer> slabs_;
    T* slab_next_ = nullptr;  // the next chunk of the last slab, slab_left_ of them
    std::size_t slab_left_ = 0;
    std::size_t size_ = 0;
    std::size_t seam_ = ~std::size_t{0};  // items from here on are pad_ slots further
    std::size_t pad_ = 0;
};

// A variant as the rebuild reads it.
struct TextVariant {
    std::int32_t string_id = -1;  // -1 for a script line
    // Held by the table. A localized text without its line end; a script
    // line with its line feed, when it has one.
    std::string_view text;
};

// How many localized lines of a language the text holds: filled, or empty
// (nothing, or a lone CR, after "->").
struct LineCounts {
    std::size_t filled = 0;
    std::size_t empty = 0;
    bool operator==(const LineCounts&) const = default;
};
struct TextCounts {
    std::array<LineCounts, language_count> languages;  // by table row, both genders
    LineCounts other_languages;                         // ids of no table language
    std::size_t script_lines = 0;
    bool operator==(const TextCounts&) const = default;
};

class TranslationTable;

// Reads the table's variants [i, end) in order, a chunk's worth at a time:
// the rebuild's walks step through them with a pointer.
class VariantCursor {
public:
    VariantCursor(const TranslationTable& table, std::size_t i, std::size_t end);
    bool done() const { return i_ == end_; }
    std::size_t index() const { return i_; }
    std::uint64_t operator*() const { return *at_; }
    void next();

private:
    const TranslationTable* table_;
    std::size_t i_;
    std::size_t end_;
    const std::uint64_t* at_ = nullptr;
    std::size_t left_ = 0;  // from at_ on, in its chunk
};

// The variants of one key in a record, in text order.
class VariantRun {
public:
    VariantRun() = default;
    VariantRun(const TranslationTable* table, std::size_t first, std::size_t count);

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    explicit operator bool() const { return count_ != 0; }
    TextVariant operator[](std::size_t i) const;
    TextVariant front() const { return (*this)[0]; }
    std::size_t first() const { return first_; }  // its first variant's place in the table
    TextNumber key() const;
    // The line, counted from 1, of its i-th variant.
    std::size_t line(std::size_t i = 0) const;

    class iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = TextVariant;
        using difference_type = std::ptrdiff_t;
        iterator(const TranslationTable* table, const std::uint64_t* at, std::size_t i)
            : table_(table), at_(at), i_(i) {}
        TextVariant operator*() const;
        iterator& operator++() {
            ++i_;
            if (at_) ++at_;
            return *this;
        }
        bool operator==(const iterator& other) const { return i_ == other.i_; }

    private:
        const TranslationTable* table_;
        const std::uint64_t* at_;  // i_'s variant, when the run lies in one chunk
        std::size_t i_;
    };
    iterator begin() const { return iterator(table_, together_, first_); }
    iterator end() const { return iterator(table_, nullptr, first_ + count_); }

private:
    const TranslationTable* table_ = nullptr;
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    // Its variants when they lie in one chunk, as nearly all runs do.
    const std::uint64_t* together_ = nullptr;
};

// One resource block of the text, viewed in its table. Its variants are
// grouped by key, the keys ascending, each key's variants in text order.
struct FileRecord {
    const TranslationTable* table = nullptr;
    std::string_view name;  // as written, up to the first dot
    TextNumber resource_index = 0;
    std::size_t first = 0;  // its variants: [first, end) of the table's
    std::size_t end = 0;
    std::string_view letters;  // as written, after the dot up to the comma
    std::size_t ordinal = 0;   // its place among the table's records

    // The line, counted from 1, of its header.
    std::size_t header_line() const;

    // The variants of key, or none.
    VariantRun find(TextNumber key) const;
    // Each key's variants in turn, keys ascending.
    std::vector<VariantRun> runs() const;
};

class TranslationTable {
public:
    TranslationTable() = default;
    // Its lists view its own text: a copy would view another table's.
    TranslationTable(const TranslationTable&) = delete;
    TranslationTable& operator=(const TranslationTable&) = delete;
    TranslationTable(TranslationTable&&) = default;
    TranslationTable& operator=(TranslationTable&&) = default;

    std::size_t record_count() const { return records_.size(); }
    FileRecord record(std::size_t ordinal) const;
    TextNumber resource_index(std::size_t ordinal) const {
        return table_detail::widen(table_detail::load_i32(storage.data() + name_of(records_[ordinal]) - 6));
    }
    std::size_t variant_count() const { return variants_.size(); }
    // The line, counted from 1, of a record's header, at once.
    std::size_t record_line(std::size_t ordinal) const { return line_of(records_[ordinal]); }
    // The line, counted from 1, of variant i: counted from the nearest of its
    // header and a point every 64 KB, so a call reads at most 64 KB of the
    // text and the record's variants in that stretch (all of the record's
    // when its keys did not ascend).
    std::size_t variant_line(std::size_t i) const;
    // The localized and script lines the table holds.
    const TextCounts& counts() const { return counts_; }
    // The bytes its own lists hold, the text aside: every chunk whole and the
    // lists of them.
    std::size_t held_bytes() const;

    // How the text was written: raw, or UTF-8, its texts then encoded into
    // their code pages where they lie.
    TextEncoding encoding = TextEncoding::raw;

    // The parsed file itself, converted in place, the prefixes of its lines
    // written over with what they name: the lists view it. Its characters
    // stay put when the table is moved.
    BulkBuffer storage;  // not zeroed first: the file fills it

    // Packed variant: its text's offset in the storage, its length (or
    // long_text when the length is in long_lengths_) and its kind.
    using Variant = std::uint64_t;
    static constexpr unsigned kind_bits = 2, length_bits = 20;
    static constexpr std::uint64_t long_text = (std::uint64_t{1} << length_bits) - 1;
    // Texts are at most this far into the storage.
    static constexpr std::uint64_t offset_limit = std::uint64_t{1} << (64 - kind_bits - length_bits);
    enum Kind : unsigned {
        localized = 0,     // key in the 4 bytes before the text, string id in the 4 before those
        script = 1,        // key in the 4 bytes before the text
        script_key_0 = 2,  // "#->": no room, and the key is 0
    };
    TextNumber key_of(Variant variant) const { return key_at(storage.data(), variant); }
    static TextNumber key_at(const char* base, Variant variant);
    TextVariant resolve(Variant variant) const;
    Variant variant(std::size_t i) const { return variants_[i]; }

private:
    friend class TableBuilder;
    friend class VariantCursor;
    friend class VariantRun;
    std::uint64_t long_length(std::uint64_t offset) const;

    // Three numbers of 42 bits in 16 bytes: the name's offset in the
    // storage (the index is 6 bytes before), the first variant, the header's
    // line; and whether the variants were sorted by key.
    struct Record {
        std::uint64_t low;   // the name's offset, the line's low 22 bits
        std::uint64_t high;  // the first variant, the line's high 20 bits, sorted
    };
    static constexpr unsigned place_bits = 42;
    static constexpr std::uint64_t place_mask = (std::uint64_t{1} << place_bits) - 1;
    static constexpr unsigned line_low_bits = 64 - place_bits;
    static constexpr std::uint64_t sorted_bit = std::uint64_t{1} << 63;
    static Record make_record(std::uint64_t name, std::uint64_t first, std::uint64_t line) {
        return {name | line << place_bits, first | (line >> line_low_bits) << place_bits};
    }
    static std::uint64_t name_of(const Record& r) { return r.low & place_mask; }
    static std::uint64_t first_of(const Record& r) { return r.high & place_mask; }
    static std::size_t line_of(const Record& r) {
        return static_cast<std::size_t>(r.low >> place_bits |
                                        ((r.high & ~sorted_bit) >> place_bits) << line_low_bits);
    }
    // The line feeds in [from, to) of the storage that the text had there.
    std::uint64_t feeds_read(std::size_t ordinal, std::size_t variant, std::uint64_t from,
                             std::uint64_t to) const;
    static constexpr unsigned check_bits = 16;
    struct LongText {
        std::uint64_t offset;
        std::uint64_t length;
    };
    ChunkedList<Variant, 13> variants_;
    ChunkedList<Record, 12> records_;
    // The lengths too long for a variant, by offset: rare, one per megabyte
    // of text at most.
    std::vector<LongText> long_lengths_;
    // The line feeds before every 64 KB of the storage, as the text had them.
    std::vector<std::uint64_t> line_checks_;
    TextCounts counts_;
};

// Writes the table while its text is parsed. Each part of a text parsed on
// its own has its own builder and table; the part after is appended.
class TableBuilder {
public:
    // base: the start of the storage the offsets count from.
    TableBuilder(TranslationTable& table, const char* base) : table_(table), base_(base) {}

    // A record whose name starts at name, its header on line (from 1); the
    // 4 bytes six before it are written with the index.
    void add_record(char* name, TextNumber resource_index, std::size_t line);
    bool has_record() const { return !table_.records_.empty(); }
    // A variant of the last record: the bytes before text are written with
    // its key and string id (none for a script line), as many as prefix
    // allows.
    void add_variant(char* text, std::size_t length, std::size_t prefix, TextNumber key,
                     std::optional<std::int32_t> string_id);
    // Ends the last record: its variants grouped by key.
    void finish_record();
    // Notes, for each 64 KB point of the storage before end, the line feeds
    // before it: those before a line that ends at end, line (counted from 0).
    void note_lines(const char* end, std::size_t line) {
        while (next_check_ < static_cast<std::uint64_t>(end - base_)) [[unlikely]] {
            table_.line_checks_.push_back(line);
            next_check_ += std::uint64_t{1} << TranslationTable::check_bits;
        }
    }
    // The first 64 KB point a part starting at start notes.
    void start_at(const char* start) {
        const auto offset = static_cast<std::uint64_t>(start - base_);
        const std::uint64_t step = std::uint64_t{1} << TranslationTable::check_bits;
        next_check_ = (offset + step - 1) / step * step;
    }
    // Appends the records of another part's finished table, taking its
    // lists; lines_before: the lines of the text before that part.
    void append(TranslationTable& part, std::size_t lines_before);

private:
    TranslationTable& table_;
    const char* base_;
    // Whether the last record's keys ascend so far, as an export writes
    // them; its variants are sorted by key when they do not.
    bool ascending_ = true;
    std::int32_t last_key_ = 0;
    std::uint64_t next_check_ = 0;
};

// The first record naming this resource index, or none. A walk over the
// records: the rebuild asks through RecordsByIndex instead.
std::optional<FileRecord> find_file_record(const TranslationTable& table, TextNumber resource_index);

// The first record per resource index below count, found in one step: its
// memory grows with the module, not the text.
class RecordsByIndex {
public:
    RecordsByIndex(const TranslationTable& table, std::size_t count);
    std::optional<FileRecord> find(TextNumber resource_index) const;

private:
    static constexpr std::size_t none = ~std::size_t{0};
    const TranslationTable& table_;
    std::vector<std::size_t> record_of_;
};

// Finds a record's variants by keys asked in ascending order, as the rebuild
// walks fields and lines: one pass over the record in all.
class EntryWalk {
public:
    explicit EntryWalk(const FileRecord& record)
        : table_(*record.table), base_(table_.storage.data()), next_(table_, record.first, record.end) {
        if (!next_.done()) next_key_ = TranslationTable::key_at(base_, *next_);
    }
    VariantRun find(TextNumber key) {
        while (!next_.done() && next_key_ < key) step();
        const std::size_t first = next_.index();
        while (!next_.done() && next_key_ == key) step();
        return first == next_.index() ? VariantRun() : VariantRun(&table_, first, next_.index() - first);
    }

private:
    void step() {
        next_.next();
        if (!next_.done()) next_key_ = TranslationTable::key_at(base_, *next_);
    }
    const TranslationTable& table_;
    const char* base_;
    VariantCursor next_;
    TextNumber next_key_ = 0;
};

// How an import reads the text's bytes: raw or UTF-8, as the options force
// or the text says (a byte order mark, or its settings line), and the code
// pages of a UTF-8 text. Script lines without a code page of their own take
// the first language of from_mask's.
struct TextReading {
    TextEncodingOptions options;
    std::uint16_t from_mask = all_languages_mask;
};

// Reads a translation text file into a fresh table. Fails when the file
// cannot be read, or is UTF-16 or ends its lines in CR alone, which would
// import as nothing, or is a UTF-8 text with lines that cannot be stored in
// their code pages (each told, and none kept); malformed lines are reported
// and skipped.
bool parse_translation_text(TranslationTable& table, const std::string& path, Reporter& reporter,
                            const TextReading& reading = {});

// Where a second half of the text may start: the first line from the middle
// on that starts with "#File:", a header valid or not. Every line after it
// up to the next such line is that header's, whatever came before, so the
// halves parse alone. The text's size when there is no such line.
std::size_t translation_second_half(std::string_view text);

// Texts from this size on are parsed in two halves at once.
inline constexpr std::size_t parse_in_halves_from = std::size_t{1} << 20;

// The same, over text already in memory, parsed in two halves from
// halves_from bytes on; name: the text as an error names it.
bool parse_translation_lines(TranslationTable& table, std::string_view text, Reporter& reporter,
                             std::size_t halves_from = parse_in_halves_from,
                             const std::string& name = "the text", const TextReading& reading = {});

// ---- inline lookups, on the rebuild's path

inline TextNumber TranslationTable::key_at(const char* base, Variant variant) {
    if ((variant & 3) == script_key_0) return 0;
    return table_detail::widen(table_detail::load_i32(base + (variant >> (kind_bits + length_bits)) - 4));
}

inline TextVariant TranslationTable::resolve(Variant variant) const {
    const std::uint64_t offset = variant >> (kind_bits + length_bits);
    const char* text = storage.data() + offset;
    std::uint64_t length = (variant >> kind_bits) & long_text;
    if (length == long_text) [[unlikely]] length = long_length(offset);
    return {(variant & 3) == localized ? table_detail::load_i32(text - 8) : -1,
            std::string_view(text, static_cast<std::size_t>(length))};
}

inline VariantCursor::VariantCursor(const TranslationTable& table, std::size_t i, std::size_t end)
    : table_(&table), i_(i), end_(end) {
    if (i_ < end_) at_ = table.variants_.contiguous(i_, left_);
}

inline void VariantCursor::next() {
    ++i_;
    if (--left_ != 0) ++at_;
    else if (i_ < end_) at_ = table_->variants_.contiguous(i_, left_);
}

inline VariantRun::VariantRun(const TranslationTable* table, std::size_t first, std::size_t count)
    : table_(table), first_(first), count_(count) {
    std::size_t together = 0;
    const std::uint64_t* at = count != 0 ? table->variants_.contiguous(first, together) : nullptr;
    if (together >= count) together_ = at;
}

inline TextVariant VariantRun::iterator::operator*() const {
    return table_->resolve(at_ ? *at_ : table_->variant(i_));
}

inline TextNumber VariantRun::key() const { return table_->key_of(table_->variant(first_)); }

inline std::size_t VariantRun::line(std::size_t i) const { return table_->variant_line(first_ + i); }

inline std::size_t FileRecord::header_line() const { return table->record_line(ordinal); }

inline TextVariant VariantRun::operator[](std::size_t i) const {
    return table_->resolve(table_->variant(first_ + i));
}

}  // namespace modtext
