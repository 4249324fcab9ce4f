// The converter on POSIX systems: iconv, one descriptor each way.
#include <iconv.h>

#include <cerrno>
#include <cstdint>

#include "core/code_page.h"

namespace modtext {

namespace {

// What iconv_open gives when it fails.
const iconv_t no_descriptor = reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));

// Converts the whole input, appending to out, or fails with out as it was.
// A conversion the library calls irreversible (a near character) fails too.
bool convert(iconv_t descriptor, std::string_view input, std::string& out) {
    const std::size_t start = out.size();
    // Back to the initial state; what a call leaves pending is flushed at
    // its end, so calls stand alone.
    iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(input.data());
    std::size_t in_left = input.size();
    std::size_t done = start;
    out.resize(start + input.size() * 2 + 16);
    bool flushed = false;
    while (true) {
        char* to = out.data() + done;
        std::size_t to_left = out.size() - done;
        const std::size_t result = in_left != 0 ? iconv(descriptor, &in, &in_left, &to, &to_left)
                                                : iconv(descriptor, nullptr, nullptr, &to, &to_left);
        const int error = errno;
        done = static_cast<std::size_t>(to - out.data());
        if (result == static_cast<std::size_t>(-1)) {
            if (error != E2BIG) break;
            out.resize(out.size() * 2);
            continue;
        }
        if (result != 0) break;  // irreversible
        if (in_left == 0) {
            if (flushed) {
                out.resize(done);
                return true;
            }
            flushed = true;
        }
    }
    out.resize(start);
    return false;
}

std::string iconv_name(std::uint16_t number) { return "CP" + std::to_string(number); }

}  // namespace

struct CodePageConverter::Platform {
    iconv_t decoder = no_descriptor;  // code page to UTF-8
    iconv_t encoder = no_descriptor;  // UTF-8 to code page
    ~Platform() {
        if (decoder != no_descriptor) iconv_close(decoder);
        if (encoder != no_descriptor) iconv_close(encoder);
    }
};

CodePageConverter::CodePageConverter(std::uint16_t number) : number_(number), platform_(new Platform) {
    if (!is_code_page(number)) return;
    platform_->decoder = iconv_open("UTF-8", iconv_name(number).c_str());
    platform_->encoder = iconv_open(iconv_name(number).c_str(), "UTF-8");
}

CodePageConverter::~CodePageConverter() = default;

bool CodePageConverter::ok() const {
    return platform_->decoder != no_descriptor && platform_->encoder != no_descriptor;
}

bool CodePageConverter::decode(std::string_view bytes, std::string& out) {
    return ok() && convert(platform_->decoder, bytes, out);
}

bool CodePageConverter::encode(std::string_view utf8, std::string& out) {
    return ok() && convert(platform_->encoder, utf8, out);
}

}  // namespace modtext
