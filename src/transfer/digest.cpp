#include "transfer/digest.h"

#include "transfer/engine/local_file.h"

namespace qorvel::transfer {

std::optional<std::string> file_md5_hex(const std::filesystem::path& path) {
    std::string md = engine::file_md5(path);
    if (md.empty()) return std::nullopt;
    return engine::hex_text(md);
}

}  // namespace qorvel::transfer
