#include "transfer/digest.h"

#include "transfer/engine/local_file.h"

namespace qorvel::transfer {

std::optional<std::string> file_md5_hex(const std::filesystem::path& path) {
    std::string md = engine::file_md5(path);
    if (md.empty()) return std::nullopt;
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(md.size() * 2);
    for (unsigned char c : md) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

}  // namespace qorvel::transfer
