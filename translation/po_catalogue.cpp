#include "translation/po_catalogue.h"

#include <array>
#include <charconv>

#include "formats/locstring.h"
#include "translation/text_encoding.h"
#include "translation/text_format.h"

namespace modtext {

namespace {

constexpr std::array<std::string_view, language_count> codes{"en", "fr", "de", "it", "es",
                                                             "pl", "ko", "zh_TW", "zh_CN", "ja"};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_letters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool identifier_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

std::optional<std::uint64_t> number_of(std::string_view text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || at != end) return std::nullopt;
    return value;
}

}  // namespace

std::string_view decode_with_breaks(CodePageCodec& codec, std::string_view text, std::string& room) {
    if (codec.decodes_as_itself(text)) return text;
    room.clear();
    while (true) {
        const std::size_t feed = text.find('\n');
        codec.decode(text.substr(0, feed), false, room);
        if (feed == std::string_view::npos) return room;
        room += '\n';
        text.remove_prefix(feed + 1);
    }
}

std::optional<std::string_view> first_text(const LocString& text, std::int32_t string_id) {
    for (const LocSubstring& sub : text.substrings) {
        if (sub.string_id == string_id) return substring_text(sub);
    }
    return std::nullopt;
}

std::string_view po_language_code(std::size_t row) { return codes[row]; }

std::optional<std::size_t> po_language_row(std::string_view code) {
    const std::size_t primary_end = code.find_first_of("_-.@");
    const std::string_view primary = code.substr(0, primary_end);
    if (same_letters(primary, "zh")) {
        // The region or the script tells the written form.
        std::string_view rest = primary_end == std::string_view::npos ? std::string_view{} : code.substr(primary_end + 1);
        while (!rest.empty()) {
            const std::size_t end = rest.find_first_of("_-.@");
            const std::string_view part = rest.substr(0, end);
            if (same_letters(part, "TW") || same_letters(part, "HK") || same_letters(part, "MO") ||
                same_letters(part, "Hant")) {
                return *language_row_of_key("chintrad");
            }
            rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        }
        return *language_row_of_key("chinsimpl");
    }
    for (std::size_t row = 0; row < language_count; ++row) {
        if (row != *language_row_of_key("chintrad") && row != *language_row_of_key("chinsimpl") &&
            same_letters(primary, codes[row])) {
            return row;
        }
    }
    return std::nullopt;
}

std::vector<ScriptLiteral> speech_literals(std::string_view line, bool in_comment) {
    std::vector<ScriptLiteral> found;
    int depth = 0;  // parentheses open within speech calls
    bool call_next = false;  // a speech function's name was just read
    for (std::size_t i = 0; i < line.size();) {
        const char c = line[i];
        const char next = i + 1 < line.size() ? line[i + 1] : '\0';
        if (in_comment) {
            if (c == '*' && next == '/') in_comment = false, ++i;
            ++i;
            continue;
        }
        if (c == '/' && next == '/') break;
        if (c == '/' && next == '*') {
            in_comment = true;
            i += 2;
            continue;
        }
        if (c == '"') {
            std::size_t end = i + 1;
            while (end < line.size() && line[end] != '"') end += line[end] == '\\' ? std::size_t{2} : std::size_t{1};
            if (end >= line.size()) break;
            if (depth > 0) found.push_back({i + 1, end});
            call_next = false;
            i = end + 1;
            continue;
        }
        if (identifier_char(c)) {
            std::size_t end = i;
            while (end < line.size() && identifier_char(line[end])) ++end;
            const std::string_view name = line.substr(i, end - i);
            call_next = name.find("SpeakString") != std::string_view::npos ||
                        name.find("FloatingTextStringOnCreature") != std::string_view::npos;
            i = end;
            continue;
        }
        if (c == '(') {
            if (depth > 0 || call_next) ++depth;
        } else if (c == ')') {
            if (depth > 0) --depth;
        }
        if (c != ' ' && c != '\t') call_next = false;
        ++i;
    }
    return found;
}

std::vector<ScriptLiteral> script_literals(std::string_view line) {
    std::vector<ScriptLiteral> found;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '/' && i + 1 < line.size() && line[i + 1] == '/') break;
        if (line[i] != '"') continue;
        std::size_t end = i + 1;
        while (end < line.size() && line[end] != '"') end += line[end] == '\\' ? std::size_t{2} : std::size_t{1};
        if (end >= line.size()) break;
        found.push_back({i + 1, end});
        i = end;
    }
    return found;
}

std::string unescape_script_literal(std::string_view literal) {
    std::string out;
    out.reserve(literal.size());
    for (std::size_t i = 0; i < literal.size(); ++i) {
        const char c = literal[i];
        const char next = i + 1 < literal.size() ? literal[i + 1] : '\0';
        if (c == '\\' && (next == '"' || next == '\\' || next == 'n' || next == 't')) {
            out += next == 'n' ? '\n' : next == 't' ? '\t' : next;
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

std::string escape_script_literal(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            default: out += c;
        }
    }
    return out;
}

std::optional<PoContext> parse_po_context(std::string_view context) {
    PoContext out;
    if (context.ends_with(":female")) {
        out.female = true;
        context.remove_suffix(std::string_view(":female").size());
    }
    const auto last_number = [&context]() -> std::optional<std::uint64_t> {
        const std::size_t colon = context.rfind(':');
        if (colon == std::string_view::npos) return std::nullopt;
        const auto value = number_of(context.substr(colon + 1));
        context = context.substr(0, colon);
        return value;
    };
    const std::optional<std::uint64_t> first = last_number();
    if (!first) return std::nullopt;
    out.key = *first;
    // The header that remains, and its index after "#".
    const auto split_header = [&out](std::string_view header) {
        const std::size_t hash = header.rfind('#');
        const std::size_t dot = header.rfind('.');
        if (hash != std::string_view::npos && dot != std::string_view::npos && dot < hash) {
            if (const auto index = number_of(header.substr(hash + 1))) {
                out.index = index;
                header = header.substr(0, hash);
            }
        }
        out.header = header;
    };
    // A script's context has a second number; a field's a header of its own.
    const std::size_t colon = context.rfind(':');
    if (!out.female && colon != std::string_view::npos) {
        const std::string_view before = context.substr(0, colon);
        const std::size_t hash = before.rfind('#');
        const std::string_view plain = hash != std::string_view::npos && before.rfind('.') < hash ? before.substr(0, hash) : before;
        if (plain.ends_with(".NSS")) {
            if (const auto line = number_of(context.substr(colon + 1))) {
                out.script = true;
                out.literal = out.key;
                out.key = *line;
                split_header(before);
                return out;
            }
        }
    }
    split_header(context);
    if (out.header.empty()) return std::nullopt;
    return out;
}

std::optional<PoContext> PoContextReader::read(std::string_view context) {
    constexpr std::string_view female_suffix = ":female";
    const bool female = context.ends_with(female_suffix);
    const std::string_view rest = context.substr(0, context.size() - (female ? female_suffix.size() : 0));
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::optional<std::uint64_t> number = number_of(rest.substr(colon + 1));
    if (!number) return std::nullopt;
    const std::string_view stem = rest.substr(0, colon);
    Known& known = known_[female ? 1 : 0];
    if (!known.valid || known.stem != stem) {
        const std::optional<PoContext> parsed = parse_po_context(context);
        known.valid = parsed.has_value();
        if (parsed) {
            known.stem.assign(stem);
            known.parts = *parsed;
            known.header_size = parsed->header.size();
        }
        return parsed;
    }
    PoContext out = known.parts;
    out.header = context.substr(0, known.header_size);
    (out.script ? out.literal : out.key) = *number;
    return out;
}

}  // namespace modtext
