#include "transfer/download_rules.h"

#include <vector>

#include "net/charset.h"
#include "net/form.h"
#include "net/text.h"

namespace qorvel::transfer {

bool link_file_address(std::string_view link) {
    for (unsigned char c : link)
        if (c < 0x20 || c == 0x7f) return false;
    size_t colon = link.find("://");
    if (colon == std::string_view::npos) return false;
    std::string scheme = text_lower(link.substr(0, colon));
    if (scheme != "http" && scheme != "https" && scheme != "ftp") return false;
    std::string_view authority = link.substr(colon + 3);
    authority = authority.substr(0, authority.find_first_of("/?#\\"));
    if (size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority = authority.substr(at + 1);
    std::string_view host = authority.substr(0, authority.find(':'));
    if (!authority.empty() && authority.front() == '[')
        host = authority.substr(0, authority.find(']') + 1);
    return !host.empty() && host != "[]" && host.find(' ') == std::string_view::npos;
}

std::optional<std::string> safe_local_name(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (is_gbk_lead(c) && i + 1 < name.size()) {
            // A two-byte character: its second byte is never "/" or a control byte.
            out += name[i];
            out += name[++i];
            continue;
        }
        out += (c == '/' || c < 0x20 || c == 0x7f) ? '_' : static_cast<char>(c);
    }
    if (out.empty() || out == "." || out == "..") return std::nullopt;
    return out;
}

TargetPlan plan_target(const std::string& folder, const std::string& name, int policy,
                       const std::function<bool(const std::string&)>& exists,
                       const std::function<int()>& random) {
    TargetPlan plan;
    plan.final_path = folder + name;
    if (!exists(plan.final_path)) return plan;
    if (policy == static_cast<int>(SameName::rename)) {
        // Bounded: a folder that holds every numbered name gives up rather than spin.
        for (int attempt = 0; attempt < 64; ++attempt) {
            std::string candidate = folder + std::to_string(random()) + name;
            if (!exists(candidate)) {
                plan.final_path = candidate;
                return plan;
            }
        }
        plan.ok = false;
        return plan;
    }
    plan.replaces = plan.final_path;
    return plan;
}

std::string replacement_name(const std::string& name, std::uint64_t id) {
    constexpr std::size_t kNameMax = 255;
    std::string prefix = ".qorvel-" + std::to_string(id) + "-";
    // Whole characters only: drop from the end until the name fits on disk.
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < name.size(); ++i) {
        starts.push_back(i);
        if (is_gbk_lead(static_cast<unsigned char>(name[i])) && i + 1 < name.size()) ++i;
    }
    std::size_t keep = name.size();
    for (std::size_t i = starts.size();
         i > 0 && text_to_path(prefix + name.substr(0, keep)).native().size() > kNameMax;)
        keep = starts[--i];
    return prefix + name.substr(0, keep);
}

std::optional<std::string> retarget(const std::string& folder, const std::string& name, int policy,
                                    std::uint64_t id,
                                    const std::function<bool(const std::string&)>& exists,
                                    const std::function<int()>& random) {
    if (policy == static_cast<int>(SameName::rename)) {
        auto plan = plan_target(folder, name, policy, exists, random);
        if (!plan.ok) return std::nullopt;
        return plan.final_path;
    }
    std::string hidden = folder + replacement_name(name, id);
    if (exists(hidden)) return std::nullopt;
    return hidden;
}

std::string progress_text(std::int64_t done, std::int64_t size) {
    if (size <= 0 || done <= 0) return "0%";
    if (done > size) done = size;
    return std::to_string(done * 100 / size) + "%";
}

std::string speed_text(std::int64_t recent_bytes) {
    if (recent_bytes < 0) recent_bytes = 0;
    return std::to_string(recent_bytes / 1024) + "KB";
}

std::string folder_text(const std::string& chosen) {
    if (chosen.empty()) return chosen;
    std::string out;
    for (char c : chosen) {
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out += c;
    }
    if (out.back() != '/') out += '/';
    return out;
}

}  // namespace qorvel::transfer
