// The converter on Windows: MultiByteToWideChar and WideCharToMultiByte
// between the code page and UTF-16, which is turned into UTF-8 here.
#include <windows.h>

#include <climits>

#include "core/code_page.h"

namespace modtext {

namespace {

bool fits_int(std::size_t size) { return size <= static_cast<std::size_t>(INT_MAX); }

// UTF-16 to UTF-8; false at a lone surrogate.
bool append_from_utf16(const std::wstring& wide, std::string& out) {
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t c = static_cast<char16_t>(wide[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size()) {
            const char32_t low = static_cast<char16_t>(wide[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF) return false;
        append_utf8(out, c);
    }
    return true;
}

// Valid UTF-8 to UTF-16.
bool to_utf16(std::string_view utf8, std::wstring& wide) {
    wide.clear();
    for (std::size_t at = 0; at < utf8.size();) {
        const auto c = read_utf8(utf8, at);
        if (!c) return false;
        at += c->length;
        if (c->code_point >= 0x10000) {
            const char32_t v = c->code_point - 0x10000;
            wide += static_cast<wchar_t>(0xD800 + (v >> 10));
            wide += static_cast<wchar_t>(0xDC00 + (v & 0x3FF));
        } else {
            wide += static_cast<wchar_t>(c->code_point);
        }
    }
    return true;
}

}  // namespace

struct CodePageConverter::Platform {
    bool valid = false;
    std::wstring wide;  // reused between calls
};

CodePageConverter::CodePageConverter(std::uint16_t number) : number_(number), platform_(new Platform) {
    platform_->valid = is_code_page(number) && IsValidCodePage(number);
}

CodePageConverter::~CodePageConverter() = default;

bool CodePageConverter::ok() const { return platform_->valid; }

bool CodePageConverter::decode(std::string_view bytes, std::string& out) {
    if (!ok() || !fits_int(bytes.size())) return false;
    if (bytes.empty()) return true;
    const int length = static_cast<int>(bytes.size());
    const int units = MultiByteToWideChar(number_, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
    if (units <= 0) return false;
    std::wstring& wide = platform_->wide;
    wide.resize(static_cast<std::size_t>(units));
    if (MultiByteToWideChar(number_, MB_ERR_INVALID_CHARS, bytes.data(), length, wide.data(), units) != units) {
        return false;
    }
    const std::size_t start = out.size();
    if (append_from_utf16(wide, out)) return true;
    out.resize(start);
    return false;
}

bool CodePageConverter::encode(std::string_view utf8, std::string& out) {
    if (!ok() || !fits_int(utf8.size())) return false;
    if (utf8.empty()) return true;
    std::wstring& wide = platform_->wide;
    if (!to_utf16(utf8, wide)) return false;
    const int units = static_cast<int>(wide.size());
    BOOL used_default = FALSE;
    const int length =
        WideCharToMultiByte(number_, WC_NO_BEST_FIT_CHARS, wide.data(), units, nullptr, 0, nullptr, &used_default);
    if (length <= 0 || used_default) return false;
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(length));
    if (WideCharToMultiByte(number_, WC_NO_BEST_FIT_CHARS, wide.data(), units, out.data() + start, length,
                            nullptr, &used_default) != length ||
        used_default) {
        out.resize(start);
        return false;
    }
    return true;
}

}  // namespace modtext
