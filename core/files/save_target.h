#pragma once
// Replacing a file only once its new contents are fully written: the steps that the whole-file
// save and the files written as a capture goes share. POSIX file calls on plain values.
//
// Only regular files are read or written: a FIFO, a device, a socket or a folder is refused at
// once with a reason that says what it is (opening a FIFO without a writer would wait forever).
// Files made beside a target are private (mode 0600, or the target's if narrower) from their
// first byte; the replaced file's mode is given only once the contents are complete.

#include <cstdint>
#include <filesystem>
#include <string>

namespace osc {

// The file that a save to a path writes.
struct SaveTarget {
    std::filesystem::path given;  // the path as the caller named it
    std::filesystem::path path;   // symbolic links followed (also a link to no file yet)
    bool exists = false;
    std::uint32_t mode = 0;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
};

// The system's text for an errno value ("Permission denied").
std::string systemReason(int error);
// What a file of this st_mode is when it is not a regular file ("a FIFO (named pipe), not a
// regular file"; "Is a directory"); empty for a regular file.
std::string notRegularReason(std::uint32_t mode);

// Opens path for reading, a regular file only, without waiting on a FIFO. The descriptor, or
// -1 with `reason` set (the system's reason, or notRegularReason).
int openRegularForReading(const std::filesystem::path& path, std::string& reason);

// Looks at path for a save. Throws FileError(failureText, reason) for a folder, a FIFO, a
// device or a socket, an empty file name, or an existing file that cannot be opened for
// writing (a read-only file, a read-only file system).
SaveTarget findSaveTarget(const std::filesystem::path& path, const std::string& failureText);

// Creates a new empty file beside the target, never reusing an existing one, with mode 0600
// (the target's if narrower): the target's name with `suffix` when given ("x.osc.part"; opened
// without truncation, for the caller to lock and check first), else a hidden name of its own
// (".x.osc.1a2b3c4d0001.tmp"). The descriptor, or -1 with errno set; `created` gets the name.
int createBeside(const SaveTarget& target, const std::string& suffix,
                 std::filesystem::path& created);

// Opens the existing target for writing over it in place, its old contents kept until they are
// written over: first the room for `size` bytes is reserved, so that a full disk refuses the
// save here (-1, errno ENOSPC, the file as it was) instead of cutting the file halfway. The
// caller writes from offset 0 and ends with finishInPlace. The descriptor, or -1 with errno set.
int openInPlace(const SaveTarget& target, std::uint64_t size);
// Cuts the file written in place to `size` bytes and syncs it; 0, or the errno of the failure.
int finishInPlace(int fd, std::uint64_t size);
// The reason of a save refused by openInPlace: the system's, and that the file is unchanged.
std::string inPlaceRefusal(int error);

// Gives fd the replaced file's permission bits (and owner and group, where allowed), or those
// of a new file (0666 less the umask), syncs it, renames `written` over the target and syncs
// the folder. 0, or the errno of the failed step.
int replaceTarget(const SaveTarget& target, int fd, const std::filesystem::path& written);

// Writes all of bytes to fd (retrying short writes); 0, or the errno of the failure.
int writeAll(int fd, const char* bytes, std::size_t size);

}  // namespace osc
