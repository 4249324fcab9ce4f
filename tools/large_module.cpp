// Large modules for the benchmark: about the asked size, with the proportions
// of a big module: conversations of hundreds to thousands of strings, areas
// with their tiles, journals, scripts, templates, and compiled data that
// export skips. The density says how much of the module is text.
#include <array>
#include <string_view>

#include "tools/modbuild.h"
#include "tools/splitmix.h"

namespace modtext::build {

namespace {

using F = GffField;
constexpr std::uint32_t kTop = 0xFFFFFFFFu;

constexpr std::array<std::string_view, 24> kWords = {
    "the",  "gate",   "market", "friend", "dawn",   "tomorrow", "sword", "shield",
    "inn",  "guard",  "north",  "south",  "docks",  "careful",  "coin",  "road,",
    "you",  "must",   "never",  "trust",  "a",      "stranger", "here.", "now!"};

// French words in code page 1252, accented about as often as French prose
// is: one letter in thirty or so is beyond ASCII.
constexpr std::array<std::string_view, 32> kFrenchWords = {
    "la",   "porte", "est",   "ferm\xE9" "e", "jusqu'\xE0", "l\x92" "aube", "revenez", "demain,",
    "le",   "march\xE9", "du",  "port",        "au",         "nord",         "et",      "les",
    "gardes", "sont", "l\xE0", "mon",         "ami,",       "prenez",       "garde",   "ce",
    "soir", "\xE0",    "la",    "taverne",     "du",         "chemin",       "vers",    "nous."};

class LargeGenerator {
public:
    LargeGenerator(std::uint64_t seed, Density density) : rng_(seed), density_(density) {}

    Bytes module(std::uint64_t megabytes) {
        const std::uint64_t target = megabytes << 20;
        std::vector<ModuleResource> resources;
        std::uint64_t size = 0;
        const auto add = [&](std::string name, std::uint16_t type, Bytes bytes) {
            size += bytes.size() + 32;
            resources.push_back({std::move(name), type, std::move(bytes), static_cast<std::uint32_t>(resources.size()), 0});
        };
        // `add` grows the size, until the module reaches its target.
        for (std::uint32_t n = 0;; ++n) {
            if (size >= target) break;
            const std::string tag = std::to_string(n);
            add("dlg_" + tag, restype::conversation, conversation());
            if (n % 2 == 0) add("area_" + tag, restype::area, area());
            if (n % 2 == 0) add("area_" + tag, restype::game_instance, instances());
            if (n % 3 == 0) add("scr_" + tag, restype::script, script());
            if (n % 5 == 0) add("it_" + tag, restype::item_template, item());
            if (n % 7 == 0) add("jrl_" + tag, restype::journal, journal());
            // Compiled scripts, maps and other binaries: most of a sparse module.
            const bool sparse = density_ == Density::sparse;
            for (std::uint32_t b = 0; b < (sparse ? 6u : 1u); ++b) {
                add("bin_" + tag + "_" + std::to_string(b), restype::skipped[rng_.below(7)],
                    random_bytes(rng_.range(4, sparse ? 160 : 60) << 10));
            }
        }
        ModuleOptions options;
        options.locstring_block = to_bytes("module name block");
        return module_bytes(resources, options);
    }

private:
    // Words, now and then broken over two lines unless it must stay on one.
    template <std::size_t N>
    std::string sentence(const std::array<std::string_view, N>& vocabulary, bool one_line = false) {
        std::string text;
        const std::uint32_t words = rng_.range(4, 30);
        for (std::uint32_t w = 0; w < words; ++w) {
            if (w) text += rng_.chance(5) && !one_line ? "\n" : " ";
            text += vocabulary[rng_.below(N)];
        }
        return text;
    }
    std::string sentence(bool one_line = false) { return sentence(kWords, one_line); }

    // English, and in a dense module often a second language too.
    std::vector<LocSub> texts() {
        std::vector<LocSub> subs{{0, sentence()}};
        if (rng_.chance(density_ == Density::dense ? 60 : 20)) subs.push_back({3, sentence(kFrenchWords)});
        return subs;
    }

    Bytes random_bytes(std::uint32_t count) {
        Bytes bytes(count);
        for (auto& b : bytes) b = rng_.byte();
        return bytes;
    }

    Bytes conversation() {
        // Hundreds to thousands of strings, a few very large; fewer in a
        // sparse module.
        const bool sparse = density_ == Density::sparse;
        const std::uint32_t lines = rng_.chance(5) ? rng_.range(sparse ? 500 : 3000, sparse ? 1000 : 8000)
                                                   : rng_.range(sparse ? 30 : 100, sparse ? 300 : 1500);
        std::vector<GffStruct> entries, replies;
        for (std::uint32_t i = 0; i < lines; ++i) {
            std::vector<GffStruct> links{GffStruct{0, {F::dword("Index", i), F::resref("Active", "")}}};
            GffStruct line{i, {}};
            if (i % 2 == 0) line.fields.push_back(F::exo_string("Speaker", rng_.chance(50) ? "" : "npc_" + std::to_string(i % 9)));
            line.fields.push_back(F::loc_string("Text", kTop, texts()));
            line.fields.push_back(F::exo_string("Comment", ""));
            line.fields.push_back(F::resref("Script", rng_.chance(20) ? "nw_walk_wp" : ""));
            line.fields.push_back(F::dword("Delay", kTop));
            line.fields.push_back(F::list(i % 2 == 0 ? "RepliesList" : "EntriesList", std::move(links)));
            (i % 2 == 0 ? entries : replies).push_back(std::move(line));
        }
        return gff_bytes(GffStruct{kTop, {F::dword("DelayEntry", 0), F::list("EntryList", std::move(entries)),
                                          F::list("ReplyList", std::move(replies))}},
                         "DLG V3.2");
    }

    Bytes area() {
        std::vector<GffStruct> tiles;
        const std::uint32_t count = rng_.range(64, density_ == Density::sparse ? 1024 : 256);
        for (std::uint32_t t = 0; t < count; ++t) {
            tiles.push_back(GffStruct{1, {F::integer("Tile_ID", static_cast<std::int32_t>(rng_.below(400))),
                                          F::integer("Tile_Orientation", static_cast<std::int32_t>(rng_.below(4))),
                                          F::integer("Tile_Height", 0), F::byte("Tile_MainLight1", rng_.byte()),
                                          F::byte("Tile_SrcLight1", rng_.byte()), F::byte("Tile_AnimLoop1", 1)}});
        }
        return gff_bytes(GffStruct{kTop, {F::loc_string("Name", kTop, texts()), F::resref("Tileset", "tcn01"),
                                          F::list("Tile_List", std::move(tiles))}},
                         "ARE V3.2");
    }

    Bytes instances() {
        std::vector<GffStruct> creatures;
        for (std::uint32_t c = rng_.range(5, 40); c > 0; --c) {
            creatures.push_back(GffStruct{4, {F::loc_string("FirstName", kTop, texts()),
                                              F::loc_string("Description", kTop, texts()),
                                              F::float32("XPosition", static_cast<float>(rng_.below(64))),
                                              F::void_data("Blob", std::string(rng_.range(8, 64), 'b'))}});
        }
        return gff_bytes(GffStruct{kTop, {F::list("Creature List", std::move(creatures))}}, "GIT V3.2");
    }

    Bytes journal() {
        std::vector<GffStruct> categories;
        for (std::uint32_t c = rng_.range(3, 20); c > 0; --c) {
            std::vector<GffStruct> entries;
            for (std::uint32_t e = rng_.range(2, 10); e > 0; --e) {
                entries.push_back(GffStruct{0, {F::dword("ID", e), F::loc_string("Text", kTop, texts())}});
            }
            categories.push_back(GffStruct{c, {F::loc_string("Name", kTop, texts()), F::list("EntryList", std::move(entries))}});
        }
        return gff_bytes(GffStruct{kTop, {F::list("Categories", std::move(categories))}}, "JRL V3.2");
    }

    Bytes item() {
        return gff_bytes(GffStruct{kTop, {F::loc_string("LocalizedName", kTop, texts()),
                                          F::loc_string("Description", kTop, texts()), F::dword("Cost", rng_.below(500))}},
                         "UTI V3.2");
    }

    Bytes script() {
        std::string text = "void main()\r\n{\r\n";
        for (std::uint32_t line = rng_.range(100, 600); line > 0; --line) {
            if (rng_.chance(8)) {
                text += "    SpeakString(\"" + sentence(true) + "\");\r\n";
            } else {
                text += "    int n" + std::to_string(line) + " = GetLocalInt(OBJECT_SELF, \"n\");\r\n";
            }
        }
        text += "}\r\n";
        return to_bytes(text);
    }

    SplitMix64 rng_;
    Density density_;
};

}  // namespace

Bytes large_module(std::uint64_t seed, std::uint64_t megabytes, Density density) {
    return LargeGenerator(seed, density).module(megabytes);
}

}  // namespace modtext::build
