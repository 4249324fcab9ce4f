// JSON strings for the commands' --json output.
#pragma once

#include <string>
#include <string_view>

namespace modtext {

// Appends text as a JSON string: quotes and backslashes escaped, control
// bytes as \u00XX; other bytes as they are (a raw text's bytes pass through).
inline void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            static constexpr char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

}  // namespace modtext
