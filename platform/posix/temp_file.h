#pragma once
// Files that appear under their name complete or not at all (POSIX).
//
// The new file is created in the target's directory, so that the final
// rename stays on one file system: without any name where the file system
// allows it (O_TMPFILE), otherwise under a random hidden name
// "dir/.NAME.<16 hex digits>" created exclusively, never through a link
// planted at that name. Publishing gives an unnamed file such a name (linkat
// through /proc/self/fd: AT_EMPTY_PATH needs a capability) and renames it
// over the target; without a target to replace it links the file straight
// to the target's name.
//
// A named temporary is held under flock(LOCK_EX) from its creation until its
// name is gone, so a kill is the only way one stays behind, and the next file
// started for the same target removes it (see remove_leftovers). An unnamed
// file is locked before it gets its name; a named one right after the
// exclusive open, and its creator then checks that the name still leads to
// the file it locked: a sweep by another run that took the name in between
// makes it start again under a new name. So a sweep never needs to guess a
// live writer from the file's age.
#include <string>

namespace qv::platform {

// What publishing does with an existing target.
enum class ReplacePolicy {
    unless_protected,  // replace it unless it is write-protected (see is_write_protected)
    always,            // replace it even then
    never,             // leave it and fail with EEXIST (the check and the link are one step)
};

// An unpublished file is removed when its record goes.
struct PendingFile {
    int fd = -1;        // open for reading and writing, until pending_ready
    int guard_fd = -1;  // after pending_ready: the same file, holding its lock until the commit
    std::string target;
    std::string named_temp;                                  // the temporary's path while it has a name
    ReplacePolicy policy = ReplacePolicy::unless_protected;  // set by pending_ready
    bool published = false;  // the file is in target's place (pending_commit may still fail after that)

    PendingFile() = default;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();
};

// True for an existing regular file that this process may not write, or
// that has no write permission bit at all (so root, too, leaves it alone).
bool is_write_protected(const char* path);

// Removes the temporaries that killed runs left for target: regular files of
// this user named exactly as this file's temporaries are, reached without
// following a symbolic link, whose lock can be taken without waiting (no
// live process writes them). False when one could not be removed, with
// "path: cause" in error; the others are removed all the same.
bool remove_leftovers(const std::string& target, std::string& error);

// Starts a new file for target, removing leftovers first. False with
// "path: cause" in error.
bool pending_create(PendingFile& f, const std::string& target, std::string& error);

// A scratch file in dir with no name (mode 0600): O_TMPFILE, or where the
// file system has none a file created as a temporary for dir/name and
// unlinked at once. The descriptor, or -1 with "path: cause" in error.
int scratch_file(const std::string& dir, const std::string& name, std::string& error);

// Every step of publishing that can fail but the last: the data committed
// to the disk, the file closed (close is checked: some file systems report
// write errors only there), the target's write protection checked, and,
// where a target is to be replaced, the file named beside it. On failure
// the file is discarded and error says why (errno is kept).
bool pending_ready(PendingFile& f, ReplacePolicy policy, std::string& error);

// The last step after pending_ready: the file takes target's place as the
// policy given there says. On
// failure the file is discarded (errno is kept; EEXIST when `never` met a
// target). With `never` and a named temporary the target is written even
// when its temporary name cannot be removed; that is a failure too, with
// `published` set and error "TARGET written; its temporary file ...".
bool pending_commit(PendingFile& f, std::string& error);

// pending_ready and pending_commit in one.
bool pending_publish(PendingFile& f, ReplacePolicy policy, std::string& error);

// Closes and removes an unpublished file, keeping errno. False when its
// temporary name could not be removed; that cause is then appended to
// *error when given ("; " between it and what error held). Safe to call
// more than once: a name is tried once.
bool pending_discard(PendingFile& f, std::string* error = nullptr);

}  // namespace qv::platform
