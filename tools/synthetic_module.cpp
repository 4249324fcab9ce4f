// A synthetic module with every resource class the exporter distinguishes.
//
// Everything random comes from one splitmix64 stream whose draws happen in
// a fixed statement order, so the bytes depend on the seed alone and not on
// the compiler or platform. Floats are built from integers scaled by powers
// of two, which is exact everywhere. The resource set and the odd cases that
// readers must survive are fixed; the seed varies texts, languages, counts
// and filler bytes.
#include "tools/modbuild.h"
#include "tools/splitmix.h"

#include <array>
#include <string_view>

namespace modtext::build {

namespace {

// "prefix" + number, built by appending: g++ 12 misreads the operator+
// form as an overlapping copy on 32-bit targets.
std::string numbered(const char* prefix, long long number) {
    std::string text(prefix);
    text += std::to_string(number);
    return text;
}


using namespace std::string_view_literals;


// English texts carry the awkward characters: a line feed, bars, an arrow
// with commas, and Latin-1 letters.
constexpr std::array<std::string_view, 7> kEnglish = {
    "Welcome to the Copper Kettle, traveller."sv,
    "The gate is closed until dawn.\nCome back tomorrow."sv,
    "Choose: sword | shield | nothing."sv,
    "North -> the docks, south -> the market."sv,
    "Be careful out there, friend."sv,
    "Thank you kindly."sv,
    "One caf\xE9 and a cr\xEApe, please."sv,
};

// Texts a translator's tools are most likely to lose: one character, a lone
// space, a literal bar, a carriage return at the end or alone, and a colour
// tag (its bytes a line feed and a bar among them), the five bytes 1252 leaves
// undefined, a tab, and the forms a UTF-8 text writes escapes in, typed
// literally. Only edge modules carry them.
constexpr std::array<std::string_view, 9> kEdge = {
    "?"sv, " "sv, "!"sv, "Left | right | both"sv, "Ends in a return\r"sv, "\r"sv, "|"sv,
    "Press <c\xFF\x80\x01>Enter</c>, not <c\xFE\n|>Esc</c>: \x81\x8D\x8F\x90\x9D\tdone."sv,
    "Type <#41>, <c#FF8000> or <c#ff8000>, not <c#FF80> nor <#4>."sv,
};

// Edge texts of languages 1..9, each in its usual code page: colour tags,
// bytes the code page leaves undefined, broken double-byte sequences (a lead
// byte before a space or at the end), user-defined double-byte characters,
// and a double-byte character whose second byte is a bar.
constexpr std::array<std::string_view, 9> kEdgeOther = {
    "L\x92" "auberge <c\x10\x80\xFF>ferm\xE9" "e</c>, \x81 \x90."sv,                       // french
    "Stra\xDF" "e <c\x20\x20\x20>grau</c> \x8D\x8F\x9D"sv,                                  // german
    "Citt\xE0 <c<c>>> \x81\x9D"sv,                                                         // italian
    "\xBF" "Se\xF1or? <c\x01\x02\x03>\x8F"sv,                                                // spanish
    "\xA3\xF3" "d\x9F \xB3\xF3\xBF" "ko <c\xB3\xB3\xB3>\x81\x83\x88\x90\x98"sv,                   // polish
    "\xB0\xED\xB8\xBF <c\xB0\xED\x7C>\xB0\xED</c> \x81 \x80\xFF \xC9\xA1 \xB0"sv,            // korean
    "\xA4p\xA4\xDF <c\xA4p\xFF> \x80\xFF \xFA\x40 \xA4 \xA4"sv,                              // chintrad
    "\xD0\xA1\xD0\xC4 <c\xD0\xA1\x01> \xFF \xAA\xA1 \xA1 \xD0"sv,                           // chinsimpl
    "\x82\xA0\x81\x7C <c\x82\xA0\x01> \xA0\xFD \x81 \xF0\x40 \x82"sv,                       // japanese
};

// Texts in the other code pages a language may be given, stored under
// languages the table does not know (ids 400 on); each also holds bytes its
// code page leaves undefined, where it has any, and a colour tag.
constexpr std::array<std::string_view, 8> kForeign = {
    "\xCA\xC7\xD1\xCA\xB4\xD5 <c\xCA\xC7\xD1> \x81\xDB\xFF"sv,                    // 874, Thai
    "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0! <c\xCF\xF0\xE8> \x98"sv,              // 1251, Russian
    "\xC3\xE5\xE9\xDC \xF3\xEF\xF5 <c\xC3\xE5\xE9> \xAA\xD2\xFF"sv,                // 1253, Greek
    "\xC7ok te\xFE" "ekk\xFC" "rler <c\xC7\xFE\xFC> \x81\x8E"sv,                     // 1254, Turkish
    "\xF9\xEC\xE5\xED \xE1\xCC <c\xF9\xEC\xE5> \xD9\xFB\xFF"sv,                     // 1255, Hebrew
    "\xE3\xD1\xCD\xC8\xC7 <c\xE3\xD1\xCD>"sv,                                      // 1256, Arabic
    "Lab\xE2s r\xEEts <c\xE2\xEE\xE2> \x81\xA1"sv,                                  // 1257, Latvian
    "Xin cha\xCC" "o, a\xEC <c\xE0\xEC\xCC> \x81\x8A"sv,                               // 1258, Vietnamese
};

// Languages 1..9 of the language table, in each one's usual single-byte or
// double-byte code page; none of them holds a '|', CR, LF or zero byte.
constexpr std::array<std::array<std::string_view, 4>, 9> kOther = {{
    // french
    {"Bienvenue \xE0 l'auberge, voyageur."sv, "La porte est ferm\xE9" "e.\nRevenez demain."sv,
     "Attention -> les gardes, l\xE0-bas!"sv, "Merci beaucoup, voyageuse."sv},
    // german
    {"Willkommen im Gasthaus, Reisender."sv, "Das Tor ist geschlossen."sv,
     "Vorsicht, die Stra\xDF" "e ist gesperrt!"sv, "Danke sch\xF6n, Reisende."sv},
    // italian
    {"Benvenuto alla locanda, viaggiatore."sv, "La porta \xE8 chiusa."sv,
     "Attenzione, per\xF2!"sv, "Grazie mille, viaggiatrice."sv},
    // spanish
    {"Bienvenido a la posada, viajero."sv, "La puerta est\xE1 cerrada."sv,
     "\xA1" "Cuidado, se\xF1or!"sv, "Gracias, viajera."sv},
    // polish
    {"Witaj, podr\xF3\xBFniku."sv, "Brama jest zamkni\xEAta."sv, "Uwa\xBF" "aj!"sv,
     "Dzi\xEAkuj\xEA."sv},
    // korean
    {"\xBE\xC8\xB3\xE7\xC7\xCF\xBC\xBC\xBF\xE4, \xBF\xA9\xC7\xE0\xC0\xDA."sv,
     "\xB9\xAE\xC0\xCC \xB4\xDD\xC7\xFB\xBD\xC0\xB4\xCF\xB4\xD9."sv,
     "\xC1\xB6\xBD\xC9\xC7\xCF\xBC\xBC\xBF\xE4!"sv,
     "\xB0\xED\xB8\xBF\xBD\xC0\xB4\xCF\xB4\xD9."sv},
    // chintrad
    {"\xC5w\xAA\xEF\xA8\xD3\xA8\xEC\xAE\xC8\xA9\xB1\xA1" "C"sv,
     "\xAB\xB0\xAA\xF9\xA4w\xB8g\xC3\xF6\xB3\xAC\xA1" "C"sv, "\xA4p\xA4\xDF\xA1I"sv,
     "\xC1\xC2\xC1\xC2\xA1" "C"sv},
    // chinsimpl
    {"\xBB\xB6\xD3\xAD\xC0\xB4\xB5\xBD\xC2\xC3\xB5\xEA\xA1\xA3"sv,
     "\xB3\xC7\xC3\xC5\xD2\xD1\xBE\xAD\xB9\xD8\xB1\xD5\xA1\xA3"sv,
     "\xD0\xA1\xD0\xC4\xA3\xA1"sv, "\xD0\xBB\xD0\xBB\xA1\xA3"sv},
    // japanese
    {"\x8Fh\x89\xAE\x82\xD6\x82\xE6\x82\xA4\x82\xB1\x82\xBB\x81" "B"sv,
     "\x96\xE5\x82\xCD\x95\xC2\x82\xDC\x82\xC1\x82\xC4\x82\xA2\x82\xE9\x81" "B"sv,
     "\x8B" "C\x82\xF0\x82\xC2\x82\xAF\x82\xC4\x81I"sv,
     "\x82\xA0\x82\xE8\x82\xAA\x82\xC6\x82\xA4\x81" "B"sv},
}};

// String id of a language row (0..9) and gender (0 male, 1 female).
std::int32_t string_id(std::uint32_t row, std::uint32_t gender) {
    const std::uint32_t language = row < 6 ? row : 128 + (row - 6);
    return static_cast<std::int32_t>(2 * language + gender);
}

constexpr std::uint32_t kTop = 0xFFFFFFFFu;

GffStruct make_struct(std::uint32_t type, std::vector<GffField> fields) {
    GffStruct s;
    s.type = type;
    s.fields = std::move(fields);
    return s;
}

using F = GffField;

class Generator {
public:
    Generator(std::uint64_t seed, bool edge) : seed_(seed), rng_(seed), edge_(edge) {}

    Bytes module();

private:
    // Cycles through every English text once before choosing at random, so
    // each awkward text is present whatever the seed.
    std::string english() {
        // An edge module cycles through its edge texts first, then mixes them in.
        if (edge_ && (edge_made_ < kEdge.size() || rng_.chance(30))) {
            const std::uint32_t pick = edge_made_ < kEdge.size()
                                           ? edge_made_
                                           : rng_.below(static_cast<std::uint32_t>(kEdge.size()));
            ++edge_made_;
            return std::string(kEdge[pick]);
        }
        const std::uint32_t pick = english_made_ < kEnglish.size()
                                       ? english_made_
                                       : rng_.below(static_cast<std::uint32_t>(kEnglish.size()));
        ++english_made_;
        return std::string(kEnglish[pick]);
    }

    std::string other(std::uint32_t row) {
        // An edge module gives each language its edge text first, then now and then.
        if (edge_ && (!(edge_other_made_ & (1u << row)) || rng_.chance(20))) {
            edge_other_made_ |= 1u << row;
            return std::string(kEdgeOther[row - 1]);
        }
        return std::string(kOther[row - 1][rng_.below(4)]);
    }

    // An edge module's texts of languages the table does not know, each in
    // turn.
    void add_foreign(std::vector<LocSub>& subs) {
        if (!edge_ || (foreign_made_ >= kForeign.size() && !rng_.chance(20))) return;
        const std::uint32_t pick = foreign_made_ < kForeign.size()
                                       ? foreign_made_
                                       : rng_.below(static_cast<std::uint32_t>(kForeign.size()));
        ++foreign_made_;
        subs.push_back({static_cast<std::int32_t>(400 + 2 * pick), std::string(kForeign[pick])});
    }

    // Real resources mostly store texts without a terminator; some tools
    // leave one, so both occur.
    std::string maybe_terminated(std::string text) {
        if (rng_.chance(25)) {
            text.push_back('\0');
        }
        return text;
    }

    std::vector<LocSub> texts() {
        std::vector<LocSub> subs;
        if (rng_.chance(90)) {
            subs.push_back({string_id(0, 0), maybe_terminated(english())});
        }
        if (rng_.chance(15)) {
            subs.push_back({string_id(0, 1), maybe_terminated(english())});
        }
        for (std::uint32_t row = 1; row < 10; ++row) {
            for (std::uint32_t gender = 0; gender < 2; ++gender) {
                if (rng_.chance(gender == 0 ? 40 : 20)) {
                    subs.push_back({string_id(row, gender), maybe_terminated(other(row))});
                }
            }
        }
        add_foreign(subs);
        if (subs.empty()) {
            subs.push_back({string_id(0, 0), english()});
        }
        return subs;
    }

    // Every language and gender, for one string that covers the whole table.
    std::vector<LocSub> all_languages() {
        std::vector<LocSub> subs;
        subs.push_back({string_id(0, 0), english()});
        subs.push_back({string_id(0, 1), english()});
        for (std::uint32_t row = 1; row < 10; ++row) {
            for (std::uint32_t gender = 0; gender < 2; ++gender) {
                subs.push_back({string_id(row, gender), other(row)});
            }
        }
        return subs;
    }

    float coordinate() { return static_cast<float>(rng_.below(4096)) * 0.0625f; }

    std::string random_bytes(std::uint32_t lo, std::uint32_t hi) {
        std::string s(rng_.range(lo, hi), '\0');
        for (char& c : s) {
            c = static_cast<char>(rng_.byte());
        }
        return s;
    }

    Bytes make_area(const std::string& name, const std::string& tag);
    Bytes make_instances(const std::string& tag);
    Bytes make_conversation(const std::string& speaker);
    Bytes make_module_info();
    Bytes make_journal();
    Bytes make_item(const std::string& name);
    Bytes make_creature(const std::string& name);
    Bytes make_skipped_gff(std::string_view type_and_version, const std::string& tag);
    Bytes script_inn_guard();
    Bytes script_gate_warden();
    Bytes script_helpers();
    Bytes script_enter_market();
    Bytes script_exit_market();

    std::uint64_t seed_;
    SplitMix64 rng_;
    bool edge_ = false;
    std::uint32_t english_made_ = 0;
    std::uint32_t edge_made_ = 0;
    std::uint32_t edge_other_made_ = 0;  // a bit per language row
    std::uint32_t foreign_made_ = 0;
};

Bytes Generator::make_area(const std::string& name, const std::string& tag) {
    const std::uint32_t width = rng_.range(2, 4);
    const std::uint32_t height = rng_.range(2, 4);
    std::vector<GffStruct> tiles;
    for (std::uint32_t i = 0; i < width * height; ++i) {
        const std::uint32_t id = rng_.below(200);
        const std::uint32_t turn = rng_.below(4);
        tiles.push_back(make_struct(1, {
            F::integer("Tile_ID", static_cast<std::int32_t>(id)),
            F::integer("Tile_Orientation", static_cast<std::int32_t>(turn)),
            F::integer("Tile_Height", 0),
            F::byte("Tile_MainLight1", rng_.byte()),
            F::byte("Tile_SrcLight1", 2),
            F::byte("Tile_AnimLoop1", 1),
        }));
    }
    const std::vector<LocSub> title = texts();
    std::vector<LocSub> notes;
    if (rng_.chance(50)) {
        notes = texts();
    }
    GffStruct top = make_struct(kTop, {
        F::integer("ID", -1),
        F::integer("Creator_ID", -1),
        F::dword("Version", rng_.range(1, 40)),
        F::exo_string("Tag", tag),
        F::loc_string("Name", kTop, title),
        F::resref("ResRef", name),
        F::exo_string("Comments", "Drawn for the synthetic module."),
        F::dword("Flags", rng_.below(8)),
        F::integer("Width", static_cast<std::int32_t>(width)),
        F::integer("Height", static_cast<std::int32_t>(height)),
        F::integer("WindPower", static_cast<std::int32_t>(rng_.below(3))),
        F::byte("SkyBox", 0),
        F::float32("FogClipDist", 45.0f),
        F::word("LoadScreenID", static_cast<std::uint16_t>(rng_.below(60))),
        F::resref("OnEnter", tag == "AREA_MARKET" ? "on_enter_market" : ""),
        F::list("Expansion_List", {}),
        F::list("Tile_List", std::move(tiles)),
        F::loc_string("AreaNotes", kTop, notes),
    });
    return gff_bytes(top, "ARE V3.2");
}

Bytes Generator::make_instances(const std::string& tag) {
    std::vector<GffStruct> creatures;
    const std::uint32_t creature_count = rng_.range(1, 3);
    for (std::uint32_t i = 0; i < creature_count; ++i) {
        const std::vector<LocSub> first = texts();
        const std::vector<LocSub> description = texts();
        // The family name is a bare string reference with no texts.
        creatures.push_back(make_struct(4, {
            F::exo_string("Tag", tag + numbered("_NPC", i)),
            F::resref("TemplateResRef", i % 2 == 0 ? "cr_bandit" : "cr_innkeeper"),
            F::loc_string("FirstName", kTop, first),
            F::loc_string("LastName", 0x00012345u + i, {}),
            F::loc_string("Description", kTop, description),
            F::float32("XPosition", coordinate()),
            F::float32("YPosition", coordinate()),
            F::float32("ZPosition", 0.0f),
            F::float32("XOrientation", 1.0f),
            F::float32("YOrientation", 0.0f),
        }));
    }
    std::vector<GffStruct> placeables;
    const std::uint32_t placeable_count = rng_.range(1, 3);
    for (std::uint32_t i = 0; i < placeable_count; ++i) {
        const std::vector<LocSub> name = texts();
        // A worn sign: the text goes on after a zero byte.
        std::vector<LocSub> description =
            i == 0 ? std::vector<LocSub>{{0, std::string("Old sign.\0scratched remains", 27)}}
                   : texts();
        placeables.push_back(make_struct(9, {
            F::exo_string("Tag", tag + numbered("_PLC", i)),
            F::resref("TemplateResRef", "plc_sign"),
            F::loc_string("LocName", kTop, name),
            F::loc_string("Description", kTop, std::move(description)),
            F::float32("X", coordinate()),
            F::float32("Y", coordinate()),
            F::float32("Z", 0.0f),
            F::float32("Bearing", static_cast<float>(rng_.below(8)) * 0.5f),
            F::byte("Static", 1),
        }));
    }
    GffStruct props = make_struct(100, {
        F::integer("AmbientSndDay", static_cast<std::int32_t>(rng_.below(50))),
        F::integer("AmbientSndNight", static_cast<std::int32_t>(rng_.below(50))),
        F::integer("MusicDay", static_cast<std::int32_t>(rng_.below(30))),
        F::integer("MusicNight", static_cast<std::int32_t>(rng_.below(30))),
    });
    GffStruct top = make_struct(kTop, {
        F::structure("AreaProperties", std::move(props)),
        F::list("Creature List", std::move(creatures)),
        F::list("Placeable List", std::move(placeables)),
        F::list("Door List", {}),
        F::list("SoundList", {}),
    });
    return gff_bytes(top, "GIT V3.2");
}

Bytes Generator::make_conversation(const std::string& speaker) {
    const std::uint32_t entry_count = rng_.range(3, 5);
    const std::uint32_t reply_count = rng_.range(2, 4);
    std::vector<GffStruct> entries;
    for (std::uint32_t i = 0; i < entry_count; ++i) {
        std::vector<GffStruct> links;
        const std::uint32_t link_count = rng_.range(1, 2);
        for (std::uint32_t k = 0; k < link_count; ++k) {
            const std::uint32_t target = rng_.below(reply_count);
            links.push_back(make_struct(k, {
                F::dword("Index", target),
                F::resref("Active", ""),
                F::byte("IsChild", 0),
            }));
        }
        const std::vector<LocSub> line = texts();
        // The owner of the conversation speaks with an empty speaker tag.
        const bool owner = rng_.chance(50);
        entries.push_back(make_struct(i, {
            F::exo_string("Speaker", owner ? "" : speaker),
            F::dword("Animation", 0),
            F::byte("AnimLoop", 1),
            F::loc_string("Text", kTop, line),
            F::resref("Script", i == 0 ? "inn_guard" : ""),
            F::dword("Delay", 0xFFFFFFFFu),
            F::exo_string("Comment", i == 0 ? "Opening line." : ""),
            F::resref("Sound", ""),
            F::exo_string("Quest", ""),
            F::list("RepliesList", std::move(links)),
        }));
    }
    std::vector<GffStruct> replies;
    for (std::uint32_t i = 0; i < reply_count; ++i) {
        std::vector<GffStruct> links;
        if (rng_.chance(60)) {
            const std::uint32_t target = rng_.below(entry_count);
            links.push_back(make_struct(0, {
                F::dword("Index", target),
                F::resref("Active", ""),
                F::byte("IsChild", 0),
            }));
        }
        const std::vector<LocSub> line = texts();
        replies.push_back(make_struct(i, {
            F::dword("Animation", 0),
            F::byte("AnimLoop", 1),
            F::exo_string("Comment", numbered("Player answer ", i)),
            F::loc_string("Text", kTop, line),
            F::resref("Script", ""),
            F::dword("Delay", 0xFFFFFFFFu),
            F::resref("Sound", ""),
            F::exo_string("Quest", ""),
            F::list("EntriesList", std::move(links)),
        }));
    }
    std::vector<GffStruct> starts;
    starts.push_back(make_struct(0, {F::dword("Index", 0), F::resref("Active", "")}));
    GffStruct top = make_struct(kTop, {
        F::dword("DelayEntry", 0),
        F::dword("DelayReply", 0),
        F::dword("NumWords", rng_.range(20, 400)),
        F::resref("EndConversation", ""),
        F::resref("EndConverAbort", ""),
        F::byte("PreventZoomIn", 0),
        F::list("EntryList", std::move(entries)),
        F::list("ReplyList", std::move(replies)),
        F::list("StartingList", std::move(starts)),
    });
    return gff_bytes(top, "DLG V3.2");
}

Bytes Generator::make_module_info() {
    const std::string id = random_bytes(16, 16);
    const std::vector<LocSub> name = all_languages();
    const std::vector<LocSub> description = texts();
    const std::vector<LocSub> note = texts();
    std::vector<GffStruct> areas;
    for (const char* a : {"area_market", "area_docks", "area_crypt"}) {
        areas.push_back(make_struct(6, {F::resref("Area_Name", a)}));
    }
    GffStruct top = make_struct(kTop, {
        F::void_data("Mod_ID", id),
        F::integer("Mod_Creator_ID", 2),
        F::dword("Mod_Version", 3),
        F::exo_string("Mod_Tag", "SYNTH_MODULE"),
        F::loc_string("Mod_Name", kTop, name),
        F::loc_string("Mod_Description", kTop, description),
        F::loc_string("Mod_StartingNote", kTop, note),  // a label of all 16 bytes
        F::resref("Mod_Entry_Area", "area_market"),
        F::float32("Mod_Entry_X", coordinate()),
        F::float32("Mod_Entry_Y", coordinate()),
        F::float32("Mod_Entry_Z", 0.0f),
        F::byte("Mod_MinPerHour", 2),
        F::byte("Mod_DawnHour", 6),
        F::byte("Mod_DuskHour", 18),
        F::dword("Mod_StartYear", 1200 + rng_.below(200)),
        F::dword64("Mod_Seed", seed_),
        F::int64("Mod_TimeOffset", -1234567890123ll),
        F::float64("Mod_Gravity", 9.8125),
        F::character("Mod_Tilt", -3),
        F::short_int("Mod_Depth", -1200),
        F::resref("Mod_OnModLoad", "util_helpers"),
        F::list("Mod_HakList", {}),
        F::list("Mod_Area_list", std::move(areas)),
    });
    return gff_bytes(top, "IFO V3.2");
}

Bytes Generator::make_journal() {
    std::vector<GffStruct> categories;
    const std::uint32_t category_count = rng_.range(2, 3);
    for (std::uint32_t c = 0; c < category_count; ++c) {
        std::vector<GffStruct> steps;
        const std::uint32_t step_count = rng_.range(1, 3);
        for (std::uint32_t s = 0; s < step_count; ++s) {
            const std::vector<LocSub> text = texts();
            steps.push_back(make_struct(s, {
                F::dword("ID", (s + 1) * 10),
                F::word("End", static_cast<std::uint16_t>(s + 1 == step_count ? 1 : 0)),
                F::loc_string("Text", kTop, text),
            }));
        }
        std::vector<LocSub> title = texts();
        if (c == 0) {
            // A language the table does not know.
            title.push_back({12, "Text for an unlisted language."});
        }
        categories.push_back(make_struct(c, {
            F::loc_string("Name", kTop, std::move(title)),
            F::dword("XP", rng_.below(500)),
            F::dword("Priority", rng_.below(5)),
            F::word("Picture", 0xFFFF),
            F::exo_string("Comment", ""),
            F::exo_string("Tag", numbered("quest_", c)),
            F::list("EntryList", std::move(steps)),
        }));
    }
    GffStruct top = make_struct(kTop, {F::list("Categories", std::move(categories))});
    return gff_bytes(top, "JRL V3.2");
}

Bytes Generator::make_item(const std::string& name) {
    std::vector<GffStruct> properties;
    const std::uint32_t property_count = rng_.below(3);
    for (std::uint32_t i = 0; i < property_count; ++i) {
        const std::uint32_t property = rng_.below(80);
        properties.push_back(make_struct(0, {
            F::word("PropertyName", static_cast<std::uint16_t>(property)),
            F::word("Subtype", 0),
            F::byte("CostTable", 3),
            F::word("CostValue", 1),
            F::byte("Param1", 0xFF),
            F::byte("ChanceAppear", 100),
        }));
    }
    const std::vector<LocSub> label = texts();
    const std::vector<LocSub> description = texts();
    const std::vector<LocSub> identified = texts();
    GffStruct top = make_struct(kTop, {
        F::resref("TemplateResRef", name),
        F::integer("BaseItem", static_cast<std::int32_t>(rng_.below(100))),
        F::loc_string("LocalizedName", kTop, label),
        F::loc_string("Description", kTop, description),
        F::loc_string("DescIdentified", kTop, identified),
        F::exo_string("Tag", name),
        F::byte("Charges", 0),
        F::dword("Cost", rng_.range(1, 5000)),
        F::word("StackSize", 1),
        F::byte("Plot", 0),
        F::byte("Identified", 1),
        F::list("PropertiesList", std::move(properties)),
        F::exo_string("Comment", ""),
    });
    return gff_bytes(top, "UTI V3.2");
}

Bytes Generator::make_creature(const std::string& name) {
    const std::vector<LocSub> first = texts();
    const std::vector<LocSub> description = texts();
    std::vector<GffStruct> classes;
    classes.push_back(make_struct(2, {
        F::integer("Class", static_cast<std::int32_t>(rng_.below(11))),
        F::short_int("ClassLevel", static_cast<std::int16_t>(rng_.range(1, 20))),
    }));
    GffStruct top = make_struct(kTop, {
        F::resref("TemplateResRef", name),
        F::loc_string("FirstName", kTop, first),
        F::loc_string("LastName", kTop, {}),
        F::loc_string("Description", kTop, description),
        F::exo_string("Tag", name),
        F::byte("Str", static_cast<std::uint8_t>(rng_.range(8, 18))),
        F::byte("Dex", static_cast<std::uint8_t>(rng_.range(8, 18))),
        F::short_int("HitPoints", static_cast<std::int16_t>(rng_.range(4, 90))),
        F::resref("Conversation", name == "cr_innkeeper" ? "dlg_innkeeper" : ""),
        F::list("ClassList", std::move(classes)),
    });
    return gff_bytes(top, "UTC V3.2");
}

// Resources the exporter must pass over still hold localized strings, so
// an exporter that wrongly visits them shows it.
Bytes Generator::make_skipped_gff(std::string_view type_and_version, const std::string& tag) {
    const std::vector<LocSub> label = texts();
    GffStruct top = make_struct(kTop, {
        F::exo_string("Tag", tag),
        F::loc_string("LocalizedName", kTop, label),
        F::dword("Flags", rng_.below(16)),
    });
    return gff_bytes(top, type_and_version);
}

// ---------------------------------------------------------------------------
// Scripts

// English texts without a line feed, to go inside a string literal.
std::string_view script_phrase(SplitMix64& rng) {
    static constexpr std::array<std::size_t, 6> kUsable = {0, 2, 3, 4, 5, 6};
    return kEnglish[kUsable[rng.below(static_cast<std::uint32_t>(kUsable.size()))]];
}

std::string quoted(std::string_view s) {
    // Appended piecewise: "\"" + std::string + "\"" trips a false
    // -Wrestrict in g++ 12 at -O2.
    std::string out;
    out.reserve(s.size() + 2);
    out.push_back('"');
    out.append(s);
    out.push_back('"');
    return out;
}

Bytes crlf_lines(const std::vector<std::string>& lines) {
    Bytes out;
    for (const std::string& line : lines) {
        put_str(out, line);
        put_str(out, "\r\n");
    }
    return out;
}

Bytes Generator::script_inn_guard() {
    const std::string_view halt = script_phrase(rng_);
    const std::string_view closed = script_phrase(rng_);
    std::vector<std::string> lines = {
        "// Warns visitors at the inn gate after dark.",
        "void main()",
        "{",
        "    object oPC = GetEnteringObject();",
        "    if (!GetIsPC(oPC))",
        "        return;",
        "",
        "    string sHalt = " + quoted(halt) + ";",
        "    SpeakString(sHalt);",
        "    FloatingTextStringOnCreature(" + quoted(closed) + ", oPC);",
        "    // SpeakString(\"Kept while the gate scene is reworked.\");",
        "    SetLocalInt(oPC, \"warned\", 1);",
        "}",
    };
    if (edge_) {
        // A spoken line with a colour tag, an undefined byte, a lone CR, a
        // zero byte and an escape typed literally.
        lines.insert(lines.begin() + 9,
                     std::string("    SpeakString(\"<c\xFF\x80\x40>Halt!</c> \x81\r\0 <#41> \x92\");"sv));
    }
    return crlf_lines(lines);
}

Bytes Generator::script_gate_warden() {
    const std::string_view first = script_phrase(rng_);
    const std::uint32_t rounds = rng_.range(2, 5);
    return crlf_lines({
        "// The warden repeats himself; the helper name only contains the call.",
        "void SpeakStringTwice(string s)",
        "{",
        "    SpeakString(s);",
        "    SpeakString(s);",
        "}",
        "",
        "void main()",
        "{",
        "    object oPC = GetLastUsedBy();",
        numbered("    int nRounds = ", rounds) + ";",
        "    SpeakStringTwice(" + quoted(first) + ");",
        "    FloatingTextStringOnCreature(\"North -> the docks, south -> the market.\", oPC, FALSE);",
        "    FloatingTextStringOnCreature(\"Caf\xE9 du port, \xE0 gauche.\", oPC);",
        "    while (nRounds > 0)",
        "        nRounds = nRounds - 1;",
        "}",
    });
}

Bytes Generator::script_helpers() {
    const std::uint32_t bonus = rng_.range(1, 9);
    return crlf_lines({
        "// Shared helpers; nothing here talks.",
        "int GetBonus(object oPC)",
        "{",
        numbered("    return GetHitDice(oPC) / ", bonus) + ";",
        "}",
        "",
        "void main()",
        "{",
        "    SetLocalInt(GetModule(), \"started\", TRUE);",
        "}",
    });
}

// One line ends with a bare line feed, as an editor on another system
// would leave it.
Bytes Generator::script_enter_market() {
    const std::string_view greet = script_phrase(rng_);
    Bytes out = crlf_lines({"// Greets whoever enters the market.", "void main()"});
    put_str(out, "{\n");
    const Bytes rest = crlf_lines({
        "    object oPC = GetEnteringObject();",
        "    SpeakString(" + quoted(greet) + ");",
        "    FloatingTextStringOnCreature(\"Market day, prices -> up.\", oPC);",
        "}",
    });
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

// The last line has no line end at all.
Bytes Generator::script_exit_market() {
    const std::string_view bye = script_phrase(rng_);
    Bytes out = crlf_lines({"// Says goodbye on leaving.", ""});
    put_str(out, "void main() { SpeakString(" + quoted(bye) + "); }");
    return out;
}

// ---------------------------------------------------------------------------

Bytes Generator::module() {
    std::vector<ModuleResource> r;
    auto add = [&r](std::string name, std::uint16_t type, Bytes bytes) {
        const auto id = static_cast<std::uint32_t>(r.size());
        r.push_back({std::move(name), type, std::move(bytes), id});
    };
    namespace rt = restype;
    add("module", rt::module_info, make_module_info());
    add("module", rt::journal, make_journal());
    add("area_market", rt::area, make_area("area_market", "AREA_MARKET"));
    add("area_market", rt::game_instance, make_instances("AREA_MARKET"));
    add("dlg_innkeeper", rt::conversation, make_conversation("INNKEEPER"));
    add("inn_guard", rt::script, script_inn_guard());
    add("inn_guard", rt::compiled_script, to_bytes("BIN V1.0" + random_bytes(60, 200)));
    add("it_lantern", rt::item_template, make_item("it_lantern"));
    add("cr_bandit", rt::creature_template, make_creature("cr_bandit"));
    add("area_docks", rt::area, make_area("area_docks", "AREA_DOCKS"));
    add("area_docks", rt::game_instance, make_instances("AREA_DOCKS"));
    add("dlg_guard", rt::conversation, make_conversation("GATE_GUARD"));
    add("gate_warden", rt::script, script_gate_warden());
    add("snd_harbour", rt::skipped_2025, make_skipped_gff("SND V3.2", "snd_harbour"));
    add("trg_gate", rt::skipped_2027, make_skipped_gff("TRG V3.2", "trg_gate"));
    add("map_market", rt::skipped_2030, to_bytes(random_bytes(100, 300)));
    add("door_inn", rt::skipped_2044, make_skipped_gff("DOR V3.2", "door_inn"));
    add("wp_market", rt::skipped_2046, make_skipped_gff("WPT V3.2", "wp_market"));
    add("plc_sign", rt::skipped_2058, make_skipped_gff("PLC V3.2", "plc_sign"));
    add("misc_data", rt::unknown, make_skipped_gff("MSC V3.2", "misc_data"));
    add("area_crypt", rt::area, make_area("area_crypt", "AREA_CRYPT"));
    add("area_crypt", rt::game_instance, make_instances("AREA_CRYPT"));
    add("dlg_harbourmastr", rt::conversation, make_conversation("HARBOUR_MASTER"));  // 16 bytes
    add("util_helpers", rt::script, script_helpers());
    add("on_enter_market", rt::script, script_enter_market());
    add("on_exit_market", rt::script, script_exit_market());
    add("it_gate_key", rt::item_template, make_item("it_gate_key"));
    add("cr_innkeeper", rt::creature_template, make_creature("cr_innkeeper"));
    add("empty_script", rt::script, {});
    if (edge_) {
        // The template types export reports unless asked to visit them.
        add("trp_spikes", 2032, make_skipped_gff("UTT V3.2", "trp_spikes"));
        add("snd_gulls", 2035, make_skipped_gff("UTS V3.2", "snd_gulls"));
        add("enc_rats", 2040, make_skipped_gff("UTE V3.2", "enc_rats"));
        add("door_crypt", 2042, make_skipped_gff("UTD V3.2", "door_crypt"));
        add("st_market", 2051, make_skipped_gff("UTM V3.2", "st_market"));
    }

    ModuleOptions options;
    options.language_count = 1;
    put_u32(options.locstring_block, 0);
    const std::string_view about = "A small synthetic module.";
    put_u32(options.locstring_block, static_cast<std::uint32_t>(about.size()));
    put_str(options.locstring_block, about);
    return module_bytes(r, options);
}

}  // namespace

Bytes synthetic_module(std::uint64_t seed, bool edge) { return Generator(seed, edge).module(); }

}  // namespace modtext::build
