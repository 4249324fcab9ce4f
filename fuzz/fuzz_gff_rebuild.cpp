// Any bytes as one named GFF resource, rebuilt with texts for its first
// fields: the result must load again, with every rebuilt string in its
// block, and be well formed wherever the source was.
#include <algorithm>

#include "fuzz_support.h"
#include "translation/rebuild.h"

using namespace modtext;

namespace {

// The translation: entries for fields 0 to 31, with long, short and empty texts.
const FileRecord& record() {
    // The table holds the texts its record views.
    static const TranslationTable made = [] {
        std::string text = "#File:fuzz.DLG,0\n";
        for (int key = 0; key < 32; ++key) {
            const std::string k = "#" + std::to_string(key);
            text += k + ",english,male->" + std::string(static_cast<std::size_t>(key % 5) * 7, 'x') + "\n";
            text += k + ",french,female->" + (key % 2 ? "" : "texte") + "\n";
            text += k + ",lang150,male->\n";
        }
        TranslationTable table;
        SilentReporter quiet;
        parse_translation_lines(table, text, quiet);
        return table;
    }();
    static const FileRecord first = made.record(0);
    return first;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FormattingReporter reporter;
    GffImage image;
    ByteReader reader(ByteView(data, size));
    std::string why;
    if (!load_gff(image, reader, why)) return 0;
    const bool well_formed = check_gff(image, why);
    SpliceMemory memory;
    if (!rebuild_gff_strings(image, record(), 0x003, reporter, why, memory)) return 0;
    const std::uint64_t total = lay_out_gff(image);
    Bytes written;
    write_gff(image, [&written](ByteView part) { written.insert(written.end(), part.begin(), part.end()); });
    FUZZ_CHECK(written.size() == total);

    // The same again in the image and memory the rebuilds before leave, as
    // the import reuses them: nothing of one may reach the next. A spare
    // block with memory in it is only there from the third rebuild on.
    for (int round = 0; round < 2; ++round) {
        ByteReader again_reader(ByteView(data, size));
        FUZZ_CHECK(load_gff(image, again_reader, why));
        FUZZ_CHECK(rebuild_gff_strings(image, record(), 0x003, reporter, why, memory));
        lay_out_gff(image);
        Bytes rewritten;
        write_gff(image, [&rewritten](ByteView part) { rewritten.insert(rewritten.end(), part.begin(), part.end()); });
        FUZZ_CHECK(rewritten == written);
    }

    GffImage again;
    ByteReader reread(written);
    FUZZ_CHECK(load_gff(again, reread, why));
    FUZZ_CHECK(std::equal(again.field_data.begin(), again.field_data.end(), image.field_data.begin(),
                          image.field_data.end()));
    // A well-formed source stays well formed, shared records and all.
    FUZZ_CHECK(!well_formed || check_gff(again, why));
    for (std::size_t j = 0; j < again.fields.size() && j < 32; ++j) {
        if (again.fields[j].type != gff_type::loc_string) continue;
        std::uint64_t length = 0;
        FUZZ_CHECK(locstring_extent(again.field_data, again.fields[j].data, length));
    }
    return 0;
}
