#include "formats/locstring.h"

namespace modtext {

bool read_locstring(ByteView field_data, std::uint32_t offset, LocString& out, std::string& why) {
    ByteReader reader(field_data);
    std::uint32_t count = 0;
    if (!reader.seek(offset) || !reader.read_u32(out.total_size) ||
        !reader.read_u32(out.string_ref) || !reader.read_u32(count)) {
        why = "localized string head out of bounds";
        return false;
    }
    out.substrings.clear();
    // The count is not trusted for a reservation: each substring must prove
    // itself within the block as it is read.
    for (std::uint32_t i = 0; i < count; ++i) {
        LocSubstring sub;
        std::uint32_t length = 0;
        if (!reader.read_i32(sub.string_id) || !reader.read_u32(length) ||
            !reader.read_view(length, sub.text)) {
            why = "localized string substring out of bounds";
            return false;
        }
        out.substrings.push_back(sub);
    }
    return true;
}

}  // namespace modtext

#include <algorithm>
#include <limits>

#include "formats/gff_image.h"

namespace modtext {

Bytes encode_locstring(const std::vector<NewSubstring>& substrings) {
    std::size_t length = locstring_head_size;
    for (const NewSubstring& sub : substrings) length += 8 + sub.text.size() + 1;
    Bytes record;
    record.reserve(length);
    append_u32(record, static_cast<std::uint32_t>(length - 4));
    append_u32(record, 0xFFFFFFFFu);
    append_u32(record, static_cast<std::uint32_t>(substrings.size()));
    for (const NewSubstring& sub : substrings) {
        append_u32(record, static_cast<std::uint32_t>(sub.string_id));
        append_u32(record, static_cast<std::uint32_t>(sub.text.size() + 1));
        record.insert(record.end(), sub.text.begin(), sub.text.end());
        record.push_back(0);
    }
    return record;
}

bool locstring_extent(ByteView field_data, std::uint32_t offset, std::uint64_t& length) {
    if (!extent_within(offset, locstring_head_size, field_data.size())) return false;
    length = std::uint64_t{load_u32(field_data.data() + offset)} + 4;
    return extent_within(offset, length, field_data.size());
}

bool splice_field_data(GffImage& image, const std::vector<FieldSplice>& splices) {
    if (splices.empty()) return true;
    // Where every other field's data lies: a record that any of them reaches
    // into, or that reaches into one of them, is shared.
    struct Extent {
        std::uint64_t start, end;
    };
    std::vector<Extent> extents;
    for (const GffField& field : image.fields) {
        if (!has_data_offset(field.type)) continue;
        const std::uint64_t length = field_data_extent(field, image.field_data);
        extents.push_back({field.data, std::uint64_t{field.data} + std::max<std::uint64_t>(length, 1)});
    }
    std::sort(extents.begin(), extents.end(), [](const Extent& a, const Extent& b) { return a.start < b.start; });
    std::vector<std::uint64_t> furthest(extents.size());  // the furthest end up to each extent
    for (std::size_t i = 0; i < extents.size(); ++i) {
        furthest[i] = std::max(extents[i].end, i ? furthest[i - 1] : 0);
    }
    const auto shared = [&](const FieldSplice& s) {
        const auto starts_at_or_after = [&](std::uint64_t at) {
            return static_cast<std::size_t>(
                std::lower_bound(extents.begin(), extents.end(), at,
                                 [](const Extent& e, std::uint64_t value) { return e.start < value; }) -
                extents.begin());
        };
        const std::size_t first = starts_at_or_after(s.position);
        const std::size_t last = starts_at_or_after(std::uint64_t{s.position} + s.old_length);
        // The field's own data is one of those starting within the record.
        return last - first > 1 || (first > 0 && furthest[first - 1] > s.position);
    };

    std::vector<const FieldSplice*> in_place, appended;
    for (const FieldSplice& s : splices) (shared(s) ? appended : in_place).push_back(&s);
    std::stable_sort(in_place.begin(), in_place.end(),
                     [](const FieldSplice* a, const FieldSplice* b) { return a->position < b->position; });

    const Bytes& old = image.field_data;
    std::uint64_t new_size = old.size();
    for (const FieldSplice* s : in_place) new_size = new_size + s->record.size() - s->old_length;
    const std::uint64_t in_place_size = new_size;
    for (const FieldSplice* s : appended) new_size += s->record.size();
    if (new_size > std::numeric_limits<std::uint32_t>::max()) return false;

    Bytes block;
    block.reserve(static_cast<std::size_t>(new_size));
    std::size_t cursor = 0;
    std::vector<std::uint32_t> positions;
    std::vector<std::uint32_t> shifts;  // running shift behind each position
    std::uint32_t shift = 0;
    for (const FieldSplice* s : in_place) {
        block.insert(block.end(), old.begin() + static_cast<std::ptrdiff_t>(cursor),
                     old.begin() + static_cast<std::ptrdiff_t>(s->position));
        block.insert(block.end(), s->record.begin(), s->record.end());
        cursor = std::size_t{s->position} + s->old_length;
        shift += static_cast<std::uint32_t>(s->record.size()) - s->old_length;  // modulo 2^32
        positions.push_back(s->position);
        shifts.push_back(shift);
    }
    block.insert(block.end(), old.begin() + static_cast<std::ptrdiff_t>(cursor), old.end());

    // Every offset strictly behind a spliced position moves by the splices before it.
    for (GffField& field : image.fields) {
        if (!has_data_offset(field.type)) continue;
        const auto before = std::lower_bound(positions.begin(), positions.end(), field.data);
        if (before != positions.begin()) field.data += shifts[static_cast<std::size_t>(before - positions.begin()) - 1];
    }
    std::uint64_t end = in_place_size;
    for (const FieldSplice* s : appended) {
        block.insert(block.end(), s->record.begin(), s->record.end());
        image.fields[s->field].data = static_cast<std::uint32_t>(end);
        end += s->record.size();
    }
    image.field_data = std::move(block);
    image.header.set_word(36, static_cast<std::uint32_t>(new_size));
    return true;
}

}  // namespace modtext
