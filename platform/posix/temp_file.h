#pragma once
// Files that appear under their name complete or not at all (POSIX).
//
// The new file is created in the target's directory, so that the final
// rename stays on one file system: without any name where the file system
// allows it (O_TMPFILE), so a process killed while writing leaves nothing
// behind; otherwise under a random hidden name created exclusively, never
// through a link planted at that name. Publishing gives the finished file a
// random name (linkat through /proc/self/fd: AT_EMPTY_PATH needs a
// capability) and renames it over the target, so only a kill between those
// two calls leaves a temporary file visible.
#include <string>

namespace qv::platform {

// An unpublished file is removed when its record goes.
struct PendingFile {
    int fd = -1;  // open for reading and writing
    std::string target;
    std::string named_temp;  // the temporary's path while it has a name

    PendingFile() = default;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();
};

// What publishing does with an existing target.
enum class ReplacePolicy {
    unless_protected,  // replace it unless it is write-protected (see is_write_protected)
    always,            // replace it even then
    never,             // leave it and fail (the check and the link are one step)
};

// True for an existing regular file that this process may not write, or
// that has no write permission bit at all (so root, too, leaves it alone).
bool is_write_protected(const char* path);

// Starts a new file for target. False with "path: cause" in error.
bool pending_create(PendingFile& f, const std::string& target, std::string& error);

// Commits the data to the disk, closes the file and puts it in target's
// place. Every step is checked; on failure nothing is left behind, the
// target is unchanged and error says why (errno is kept).
bool pending_publish(PendingFile& f, ReplacePolicy policy, std::string& error);

// Closes and removes an unpublished file, keeping errno. Safe to call more
// than once.
void pending_discard(PendingFile& f);

}  // namespace qv::platform
