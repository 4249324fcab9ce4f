// Micro-benchmarks of the parts that matter: the parser per megabyte of
// text, the rebuild of one conversation with 1, 100 and 10000 named strings,
// the export of one large GFF, and the PO catalogue's reader and writer per
// megabyte.
#include <benchmark/benchmark.h>

#include "formats/gff_image.h"
#include "formats/po_file.h"
#include "tools/modbuild.h"
#include "translation/exporters.h"
#include "translation/rebuild.h"

using namespace modtext;
using F = build::GffField;

namespace {

// A conversation of `lines` lines, each a speaker and an English text.
build::Bytes conversation(int lines) {
    std::vector<build::GffStruct> entries;
    for (int i = 0; i < lines; ++i) {
        entries.push_back(build::GffStruct{
            static_cast<std::uint32_t>(i),
            {F::exo_string("Speaker", "npc"),
             F::loc_string("Text", 0xFFFFFFFFu, {{0, "Line " + std::to_string(i) + " of the long talk, friend."}}),
             F::resref("Script", "")}});
    }
    return build::gff_bytes(build::GffStruct{0xFFFFFFFFu, {F::list("EntryList", std::move(entries))}},
                            "DLG V3.2");
}

std::string exported(const build::Bytes& gff, std::uint16_t to_mask) {
    std::string out;
    GffImage image;
    SilentReporter quiet;
    export_gff_strings(out, {0, "talk", resource_type::conversation, gff}, image, {0x3FF, to_mask, 0}, quiet);
    return out;
}

// A translation text of about `megabytes` MB: the export of a large
// conversation with French lines filled, repeated under new indices.
std::string translation_text(int megabytes) {
    std::string one = exported(conversation(2000), 0x002);
    std::string filled;
    std::size_t start = 0;
    for (std::size_t end; (end = one.find('\n', start)) != std::string::npos; start = end + 1) {
        filled.append(one, start, end - start);
        if (end >= 2 && one.compare(end - 2, 2, "->") == 0) filled += "Texte traduit, sur|deux lignes.";
        filled += '\n';
    }
    std::string text;
    for (int copy = 0; text.size() < static_cast<std::size_t>(megabytes) << 20; ++copy) {
        text += "#File:talk.DLG," + std::to_string(copy) + "\n";
        text += filled.substr(filled.find('\n'));
    }
    return text;
}

void BM_ParseTranslation(benchmark::State& state) {
    const std::string text = translation_text(8);
    SilentReporter quiet;
    for (auto _ : state) {
        TranslationTable table;
        parse_translation_lines(table, text, quiet);
        benchmark::DoNotOptimize(table.variant_count());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ParseTranslation)->Unit(benchmark::kMillisecond);

void BM_RebuildConversation(benchmark::State& state) {
    const int named = static_cast<int>(state.range(0));
    const build::Bytes gff = conversation(std::max(named, 100));
    // Name `named` string fields: every Text field is field 3k + 1.
    std::string text = "#File:talk.DLG,0\n";
    for (int k = 0; k < named; ++k) {
        std::string key = "#";
        key += std::to_string(3 * k + 1 + 1);
        text += key + ",english,male->Line of the long talk, friend.\n";
        text += key + ",french,male->Ligne de la longue discussion, l'ami.\n";
    }
    TranslationTable table;
    SilentReporter quiet;
    parse_translation_lines(table, text, quiet);
    const FileRecord record = table.record(0);
    SpliceMemory memory;
    for (auto _ : state) {
        GffImage image;
        ByteReader reader(gff);
        std::string why;
        load_gff(image, reader, why);
        rebuild_gff_strings(image, record, 0x003, quiet, why, memory);
        benchmark::DoNotOptimize(image.field_data.data());
    }
}
BENCHMARK(BM_RebuildConversation)->Arg(1)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_ExportLargeGff(benchmark::State& state) {
    const build::Bytes gff = conversation(10000);
    for (auto _ : state) benchmark::DoNotOptimize(exported(gff, 0x3FF).size());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(gff.size()));
}
BENCHMARK(BM_ExportLargeGff)->Unit(benchmark::kMillisecond);

// A catalogue of about `megabytes` MB as export lays one out: a context, a
// label and a reference to each entry, texts of one or two lines, half of
// them translated.
std::string po_catalogue(int megabytes) {
    PoCatalogue catalogue;
    std::vector<PoEntry> entries{{.msgid = "", .msgstr = "Language: fr\nContent-Type: text/plain; charset=UTF-8\n"}};
    std::string text;
    for (std::size_t i = 0; text.size() < static_cast<std::size_t>(megabytes) << 20; ++i) {
        const std::string source = "Line " + std::to_string(i) + " of the long talk, friend." +
                                   (i % 3 ? "" : "\nAnd a \"second\" line, to be told apart.");
        PoEntry& entry = entries.emplace_back();
        entry.msgctxt = catalogue.keep("talk_" + std::to_string(i / 1000) + ".DLG:" + std::to_string(i % 1000));
        entry.msgid = catalogue.keep(source);
        if (i % 2) entry.msgstr = catalogue.keep("Ligne " + std::to_string(i) + " de la longue discussion, l'ami.");
        entry.extracted_comments = "Text of an entry, NPC to the player\n";
        entry.references = *entry.msgctxt;
        if (entries.size() % 1000 == 0) {
            write_po(entries, text);
            text += '\n';
            entries.clear();
        }
    }
    write_po(entries, text);
    return text;
}

void BM_ReadPo(benchmark::State& state) {
    const std::string text = po_catalogue(64);
    for (auto _ : state) {
        PoCatalogue catalogue;
        if (read_po(text, catalogue)) state.SkipWithError("the catalogue did not read");
        benchmark::DoNotOptimize(catalogue.entries.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ReadPo)->Unit(benchmark::kMillisecond);

void BM_WritePo(benchmark::State& state) {
    const std::string text = po_catalogue(64);
    PoCatalogue catalogue;
    if (read_po(text, catalogue)) state.SkipWithError("the catalogue did not read");
    for (auto _ : state) {
        std::string out;
        write_po(catalogue.entries, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_WritePo)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
