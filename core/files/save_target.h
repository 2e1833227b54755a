#pragma once
// Replacing a file only once its new contents are fully written: the steps that the whole-file
// save and the files written as a capture goes share. POSIX file calls on plain values.

#include <cstdint>
#include <filesystem>
#include <string>

namespace osc {

// The file that a save to a path writes.
struct SaveTarget {
    std::filesystem::path given;  // the path as the caller named it
    std::filesystem::path path;   // symbolic links followed (also a link to no file yet)
    bool exists = false;
    bool regular = true;  // false for a device or a FIFO: written in place, never replaced
    std::uint32_t mode = 0;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
};

// The system's text for an errno value ("Permission denied").
std::string systemReason(int error);

// Looks at path for a save. Throws FileError(failureText, reason) for a folder, an empty file
// name, or an existing file that cannot be opened for writing (a read-only file, a read-only
// file system).
SaveTarget findSaveTarget(const std::filesystem::path& path, const std::string& failureText);

// Creates a new empty file beside the target, never reusing an existing one: the target's name
// with `suffix` when given ("x.osc.part"; opened without truncation, for the caller to lock and
// check first), else a hidden name of its own (".x.osc.1a2b3c4d0001.tmp"). The descriptor, or
// -1 with errno set; `created` gets the name.
int createBeside(const SaveTarget& target, const std::string& suffix,
                 std::filesystem::path& created);

// Opens the target itself for writing in place: an existing regular file truncated, a device
// or FIFO as it is (not waiting for a FIFO's reader). The descriptor, or -1 with errno set.
int openInPlace(const SaveTarget& target);

// Gives fd the replaced file's permission bits (and owner and group, where allowed), syncs it,
// renames `written` over the target and syncs the folder. 0, or the errno of the failed step.
int replaceTarget(const SaveTarget& target, int fd, const std::filesystem::path& written);

// Writes all of bytes to fd (retrying short writes); 0, or the errno of the failure.
int writeAll(int fd, const char* bytes, std::size_t size);

}  // namespace osc
