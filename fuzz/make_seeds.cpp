// Writes the fuzzers' seed corpora from the project's generator: modules,
// their GFF resources one by one, and their translation texts.
#include <filesystem>
#include <fstream>
#include <iostream>

#include "formats/gff_image.h"
#include "formats/module_archive.h"
#include "tools/modbuild.h"
#include "fuzz_support.h"
#include "translation/exporters.h"

using namespace modtext;
namespace fs = std::filesystem;

namespace {

void put(const fs::path& dir, const std::string& name, ByteView bytes) {
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_fuzz_seeds CORPUS_DIR\n";
        return 2;
    }
    const fs::path root = argv[1];
    SilentReporter reporter;
    // The small module, and one of the generator's full ones.
    for (int seed : {0, 1}) {
        const build::Bytes module = seed ? build::synthetic_module(1) : fuzzing::mini_module();
        const std::string tag = seed ? "synthetic" : "mini";
        put(root / "module_export", tag, module);

        InputFile source;
        source.open_memory(module);
        ModuleArchive archive;
        if (!read_module_tables(archive, source, "seed.mod", reporter)) return 1;
        Bytes bytes;
        for (std::size_t i = 0; i < archive.count(); ++i) {
            const auto type = archive.keys[i].type();
            if (type == resource_type::script || !read_resource(source, archive, i, bytes, reporter)) continue;
            if (export_route(type, 0) != ExportRoute::gff) continue;
            put(root / "gff_export", archive.keys[i].name() + "-" + std::to_string(type), bytes);
            put(root / "gff_rebuild", archive.keys[i].name() + "-" + std::to_string(type), bytes);
        }
        StagedOutput text;
        text.create_in_memory();
        if (!export_blocks(archive, source, text, {all_languages_mask, 0x002, 0}, reporter)) return 1;
        put(root / "translation_parser", "export-" + tag, text.memory());
        put(root / "import", "export-" + tag, text.memory());
        // The same text in UTF-8, as a translator's editor keeps it.
        const SelectionState selection{all_languages_mask, 0x002, 0};
        const CodePages pages = resolve_code_pages({}, selection.from_mask);
        TextDecoder utf8(pages);
        std::uint16_t missing = 0;
        if (!utf8.open(all_languages_mask, missing)) return 1;
        StagedOutput utf8_text;
        utf8_text.create_in_memory();
        utf8_text.write(utf8_bom);
        utf8_text.write(settings_line(pages, {}, selection));
        if (!export_blocks(archive, source, utf8_text, selection, reporter, nullptr, &utf8)) return 1;
        put(root / "translation_parser", "export-utf8-" + tag, utf8_text.memory());
        put(root / "import", "export-utf8-" + tag, utf8_text.memory());
        // An old text with every template line filled, before the
        // fresh one: the update's input.
        const std::string fresh(reinterpret_cast<const char*>(text.memory().data()), text.memory().size());
        std::string filled = fresh;
        for (std::size_t at = filled.find("male->\n"); at != std::string::npos; at = filled.find("male->\n", at)) {
            filled.insert(at + 6, "filled");
            at += 12;
        }
        const std::string both = filled + '\0' + fresh;
        put(root / "update", "export-" + tag,
            ByteView(reinterpret_cast<const std::uint8_t*>(both.data()), both.size()));
    }
    put(root / "module_export", "empty", build::module_bytes({}));
    return 0;
}
