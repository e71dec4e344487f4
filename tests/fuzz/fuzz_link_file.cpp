// A file page's storage link and the check that lets it become a link file.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "net/text.h"
#include "transfer/download_rules.h"

using namespace qorvel;
using namespace qorvel::transfer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    std::string answer(reinterpret_cast<const char*>(bytes), size);
    for (const std::string& text : {answer, "bsmzdyd" + answer + "<"}) {
        auto link = storage_link(text);
        if (!link) continue;
        FUZZ_CHECK(!link->empty() && link->find('<') == std::string::npos);
        if (!link_file_address(*link)) continue;
        for (unsigned char c : *link) FUZZ_CHECK(c >= 0x20 && c != 0x7f);
        std::string scheme = text_lower(link->substr(0, link->find("://")));
        FUZZ_CHECK(scheme == "http" || scheme == "https" || scheme == "ftp");
        FUZZ_CHECK(link->size() > scheme.size() + 3);
    }
    return 0;
}
