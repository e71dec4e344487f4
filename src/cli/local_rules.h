// Decisions about local files for get and put: what an existing file means,
// where the resume record of an interrupted download lies and whether it may
// be trusted, and what a folder to upload holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"

namespace qorvel::cli {

// What to do about the file a download would become.
enum class Placing { fresh, skip, numbered, replace, refuse };
// entry_type: "" none, "file" a regular file, "link" a symbolic link, "other"
// (a folder, a device...). A folder or device is never replaced.
Placing decide_placing(const std::string& entry_type, OnExists policy);

// The record an interrupted download resumes from lies beside its final
// name: "<name>.qorvel-resume", holding the partial file's path and the
// engine's record.
std::string resume_note_path(const std::string& final_path);
struct ResumeNote {
    std::string partial;  // GBK path
    std::string record;   // the engine's, may be empty before the first checkpoint
};
std::string resume_note_text(const ResumeNote& note);
std::optional<ResumeNote> parse_resume_note(const std::string& text);
// A note is trusted only for a partial file in the final file's own folder
// whose name ends in ".part": a planted note cannot point the download at
// another file of the user's.
bool partial_belongs(const std::string& final_path, const std::string& partial);

// What put sends: every regular file under the operands, each with the
// folders (names, GBK) it goes into below the target. Links are never
// followed nor sent; what cannot be sent is listed with why.
struct UploadFile {
    std::string path;                  // GBK text of the local path
    std::vector<std::string> folders;  // remote folders below the target, outermost first
    std::int64_t size = 0;
};
struct UploadPlan {
    std::vector<UploadFile> files;
    std::vector<std::vector<std::string>> folders;  // every folder to exist, parents first
    std::vector<std::pair<std::string, std::string>> refused;  // path (GBK), why (GBK)
    std::vector<std::string> links_skipped;                    // GBK paths
};
UploadPlan plan_upload(const std::vector<std::string>& operands_utf8);

}  // namespace qorvel::cli
