// Any bytes as a PO catalogue: either an error on a line the bytes have and
// no entries, or entries that the writer writes, at a width taken from the
// input, into a catalogue the reader reads back to the same entries, and
// that writes again to the same bytes.
#include <algorithm>
#include <string>
#include <vector>

#include "formats/po_file.h"
#include "fuzz_support.h"

using namespace modtext;

namespace {

// An entry as one text, its line left out and its flags as the writer
// orders them; the obsolete ones last, as the writer puts them.
std::string contents(const PoCatalogue& catalogue) {
    std::string out;
    const auto optional = [&](const std::optional<std::string_view>& text) {
        out += text ? "+" + std::to_string(text->size()) + ":" + std::string(*text) : "-";
    };
    for (const bool obsolete : {false, true}) {
        for (const PoEntry& e : catalogue.entries) {
            if (e.obsolete != obsolete) continue;
            optional(e.msgctxt);
            optional(e.msgid);
            optional(e.msgid_plural);
            optional(e.msgstr);
            optional(e.translator_comments);
            optional(e.extracted_comments);
            optional(e.references);
            optional(e.previous_msgctxt);
            optional(e.previous_msgid);
            optional(e.previous_msgid_plural);
            std::string flags = e.fuzzy() ? "fuzzy" : "";
            std::string_view rest = e.flags;
            while (!rest.empty()) {
                const std::size_t comma = rest.find(',');
                const std::string_view flag = rest.substr(0, comma);
                if (flag != "fuzzy") flags.append(",").append(flag);
                rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
            }
            optional(flags);
            out += obsolete ? "~\n" : "\n";
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    PoCatalogue catalogue;
    if (const std::optional<PoError> error = read_po(bytes, catalogue)) {
        const std::size_t lines = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1;
        FUZZ_CHECK(error->line >= 1 && error->line <= lines);
        FUZZ_CHECK(catalogue.entries.empty());
        return 0;
    }
    const int width = size == 0 ? 79 : data[0] % 100 - 10;
    std::string written;
    write_po(catalogue.entries, written, width);
    PoCatalogue again;
    FUZZ_CHECK(!read_po(written, again));
    FUZZ_CHECK(contents(again) == contents(catalogue));
    std::string rewritten;
    write_po(again.entries, rewritten, width);
    FUZZ_CHECK(rewritten == written);
    return 0;
}
