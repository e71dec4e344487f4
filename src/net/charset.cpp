#include "net/charset.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace qorvel {

namespace {

// iconv descriptors are not thread-safe; each thread keeps its own.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Returns false on input that is invalid in the source charset.
    bool run(std::string_view in, std::string& out, bool from_utf8) {
        out.clear();
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return false;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        size_t left = in.size();
        std::string buf(in.size() * 2 + 16, '\0');
        while (left > 0) {
            char* dst = buf.data();
            size_t room = buf.size();
            size_t r = iconv(cd_, &src, &left, &dst, &room);
            out.append(buf.data(), buf.size() - room);
            if (r != static_cast<size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            if (errno == EILSEQ && from_utf8) {
                // A well-formed UTF-8 character the target lacks becomes "?".
                size_t n = utf8_length(static_cast<unsigned char>(*src));
                if (n == 0 || n > left || !valid_utf8(src, n)) return false;
                out += '?';
                src += n;
                left -= n;
                continue;
            }
            return false;
        }
        char* dst = buf.data();
        size_t room = buf.size();
        iconv(cd_, nullptr, nullptr, &dst, &room);
        out.append(buf.data(), buf.size() - room);
        return true;
    }

  private:
    static size_t utf8_length(unsigned char c) {
        if (c < 0x80) return 1;
        if ((c & 0xE0) == 0xC0) return 2;
        if ((c & 0xF0) == 0xE0) return 3;
        if ((c & 0xF8) == 0xF0) return 4;
        return 0;
    }
    static bool valid_utf8(const char* s, size_t n) {
        for (size_t i = 1; i < n; ++i)
            if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return false;
        return true;
    }
    iconv_t cd_;
};

std::string convert(std::string_view in, const char* to, const char* from, bool from_utf8) {
    std::string out;
    if (in.empty()) return out;
    thread_local Converter gbk_to_u8("UTF-8", "GBK");
    thread_local Converter u8_to_gbk("GBK", "UTF-8");
    thread_local Converter gb18030_to_u8("UTF-8", "GB18030");
    thread_local Converter u8_to_gb18030("GB18030", "UTF-8");
    Converter* c = nullptr;
    std::string_view key = to;
    if (key == "UTF-8")
        c = std::string_view(from) == "GBK" ? &gbk_to_u8 : &gb18030_to_u8;
    else
        c = key == "GBK" ? &u8_to_gbk : &u8_to_gb18030;
    if (!c->run(in, out, from_utf8)) out.clear();
    return out;
}

}  // namespace

std::string gbk_to_utf8(std::string_view gbk) {
    return convert(gbk, "UTF-8", "GBK", false);
}

std::string utf8_to_gbk(std::string_view utf8) {
    return convert(utf8, "GBK", "UTF-8", true);
}

std::string path_to_text(const std::filesystem::path& path) {
    return convert(path.native(), "GB18030", "UTF-8", true);
}

std::filesystem::path text_to_path(std::string_view text) {
    return std::filesystem::path(convert(text, "UTF-8", "GB18030", false));
}

namespace detail {
std::string literal_to_gbk(std::string_view utf8) {
    std::string out = utf8_to_gbk(utf8);
    if (out.empty() && !utf8.empty()) {
        std::fprintf(stderr, "literal outside GBK: %.*s\n", static_cast<int>(utf8.size()),
                     utf8.data());
        std::abort();
    }
    return out;
}
}  // namespace detail

}  // namespace qorvel
