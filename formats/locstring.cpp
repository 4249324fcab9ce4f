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
