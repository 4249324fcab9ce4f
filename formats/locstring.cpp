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
#include <cstring>
#include <limits>

#include "formats/gff_image.h"

namespace modtext {

bool locstring_fits(ByteView field_data, std::uint32_t offset) {
    std::uint64_t length = 0;
    if (!locstring_extent(field_data, offset, length)) return false;
    ByteReader reader(field_data.subspan(offset, static_cast<std::size_t>(length)));
    std::uint32_t count = 0, sub_length = 0;
    std::int32_t id = 0;
    if (!reader.skip(8) || !reader.read_u32(count)) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!reader.read_i32(id) || !reader.read_u32(sub_length) || !reader.skip(sub_length)) return false;
    }
    return true;
}

bool locstring_extent(ByteView field_data, std::uint32_t offset, std::uint64_t& length) {
    if (!extent_within(offset, locstring_head_size, field_data.size())) return false;
    length = std::uint64_t{load_u32(field_data.data() + offset)} + 4;
    return extent_within(offset, length, field_data.size());
}

namespace {

// The first index of a sorted sequence whose value is not below `value`,
// searched onwards from where the last search ended: in the usual order of
// a resource, offsets grow with the field index, and each search then costs
// next to nothing; any other order costs a binary search.
template <typename Sequence, typename Value, typename Key>
std::size_t lower_bound_from(const Sequence& sorted, Value value, std::size_t& hint, Key key) {
    const auto below = [&](std::size_t i) { return key(sorted[i]) < value; };
    if (hint > sorted.size() || (hint > 0 && !below(hint - 1))) hint = 0;
    // The next few one by one: the next search's value lies most often a
    // handful of fields on. Then gallop forward, and search the last stride.
    std::size_t low = hint;
    for (const std::size_t near = std::min(sorted.size(), hint + 8); low < near; ++low) {
        if (!below(low)) {
            hint = low;
            return low;
        }
    }
    std::size_t step = 1;
    while (low + step <= sorted.size() && below(low + step - 1)) {
        low += step;
        step *= 2;
    }
    std::size_t high = std::min(low + step, sorted.size());
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (below(middle)) low = middle + 1;
        else high = middle;
    }
    hint = low;
    return low;
}

}  // namespace

bool splice_field_data(GffImage& image, const std::vector<FieldSplice>& splices) {
    SpliceMemory memory;
    return splice_field_data(image, splices, memory);
}

bool splice_field_data(GffImage& image, const std::vector<FieldSplice>& splices,
                       SpliceMemory& memory) {
    if (splices.empty()) return true;
    // Where every other field's data lies: a record that any of them reaches
    // into, or that reaches into one of them, is shared.
    std::vector<DataExtent>& extents = memory.extents;
    extents.clear();
    for (const GffField& field : image.fields) {
        if (!has_data_offset(field.type)) continue;
        const std::uint64_t length = field_data_extent(field, image.field_data);
        extents.push_back({field.data, std::uint64_t{field.data} + std::max<std::uint64_t>(length, 1)});
    }
    const auto by_start = [](const DataExtent& a, const DataExtent& b) { return a.start < b.start; };
    if (!std::is_sorted(extents.begin(), extents.end(), by_start)) {
        std::sort(extents.begin(), extents.end(), by_start);
    }
    std::vector<std::uint64_t>& furthest = memory.furthest;  // the furthest end up to each extent
    furthest.resize(extents.size());
    for (std::size_t i = 0; i < extents.size(); ++i) {
        furthest[i] = std::max(extents[i].end, i ? furthest[i - 1] : 0);
    }
    std::size_t first_hint = 0, last_hint = 0;
    const auto start_of = [](const DataExtent& e) { return e.start; };
    const auto shared = [&](const FieldSplice& s) {
        const std::size_t first = lower_bound_from(extents, std::uint64_t{s.position}, first_hint, start_of);
        const std::size_t last =
            lower_bound_from(extents, std::uint64_t{s.position} + s.old_length, last_hint, start_of);
        // The field's own data is one of those starting within the record.
        return last - first > 1 || (first > 0 && furthest[first - 1] > s.position);
    };

    std::vector<const FieldSplice*>& in_place = memory.in_place;
    std::vector<const FieldSplice*>& appended = memory.appended;
    in_place.clear();
    appended.clear();
    for (const FieldSplice& s : splices) (shared(s) ? appended : in_place).push_back(&s);
    const auto by_position = [](const FieldSplice* a, const FieldSplice* b) {
        return a->position < b->position;
    };
    // Records lie in field order as a rule: then there is nothing to sort.
    if (!std::is_sorted(in_place.begin(), in_place.end(), by_position)) {
        std::stable_sort(in_place.begin(), in_place.end(), by_position);
    }

    const ByteView old = image.field_data;
    std::uint64_t new_size = old.size();
    for (const FieldSplice* s : in_place) new_size = new_size + s->record.size() - s->old_length;
    const std::uint64_t in_place_size = new_size;
    for (const FieldSplice* s : appended) new_size += s->record.size();
    if (new_size > std::numeric_limits<std::uint32_t>::max()) return false;

    Bytes& block = memory.block;
    block.clear();
    block.reserve(static_cast<std::size_t>(new_size));
    std::size_t cursor = 0;
    std::vector<std::uint32_t>& positions = memory.positions;
    std::vector<std::uint32_t>& shifts = memory.shifts;  // running shift behind each position
    positions.clear();
    shifts.clear();
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
    std::size_t hint = 0;
    const auto itself = [](std::uint32_t position) { return position; };
    for (GffField& field : image.fields) {
        if (!has_data_offset(field.type)) continue;
        const std::size_t before = lower_bound_from(positions, field.data, hint, itself);
        if (before > 0) field.data += shifts[before - 1];
    }
    std::uint64_t end = in_place_size;
    for (const FieldSplice* s : appended) {
        block.insert(block.end(), s->record.begin(), s->record.end());
        image.fields[s->field].data = static_cast<std::uint32_t>(end);
        end += s->record.size();
    }
    // The image's block before, which old may view, is the spare from here on.
    image.rebuilt_field_data.swap(block);
    image.field_data = image.rebuilt_field_data;
    image.header.set_word(36, static_cast<std::uint32_t>(new_size));
    return true;
}

}  // namespace modtext
