#pragma once
// Opening the files a person names without ever waiting on them. A FIFO, a
// socket, a folder or a character device given where a file is meant would
// block an open or a read for as long as nobody writes to it (past Stop and
// Ctrl-C); so every such file is opened non-blocking, looked at, and kept
// only when it is a regular file (or a block device where a card is meant).
// Paths handed to a tool are checked the same way before the tool starts.
#include <string>

namespace rk {

enum class FileUse {
    kFile,  // a regular file only
    kCard   // a regular file (a card image) or a block device
};

// Opens `path` with `flags` (O_RDONLY, O_RDWR, O_WRONLY | O_CREAT ...) plus
// O_NONBLOCK and O_CLOEXEC, keeps it only when it is of the kind `use`
// allows, then clears O_NONBLOCK. O_TRUNC is applied only after the check,
// so a device named by mistake is never truncated. -1 on failure, with the
// reason in `why` ("x: is a FIFO, not a regular file", or strerror); errno
// is left as the failing call set it (ENODEV for a file of the wrong kind).
int OpenChecked(const std::string& path, int flags, FileUse use, std::string* why = nullptr, int mode = 0644);
// O_RDONLY, regular files only.
int OpenInputFile(const std::string& path, std::string* why = nullptr);
// Creates or truncates a regular file for writing.
int OpenOutputFile(const std::string& path, std::string* why = nullptr);

// For a path a tool opens: an input must be an existing regular file; an
// output must be a regular file or not exist yet. False with the reason.
bool CheckInputPath(const std::string& path, std::string* why = nullptr);
bool CheckOutputPath(const std::string& path, std::string* why = nullptr);

// Whether writing `path` would write onto the card at `cardPath`: the card
// image itself (by any link or hard link), the card's block device, or a file
// on a file system of the card's device. Then the reason goes to `why`
// ("OUT: is the card being read"). A path that names
// nothing yet is judged by its folder.
bool WritesOntoCard(const std::string& path, const std::string& cardPath, std::string* why = nullptr);

// "a FIFO", "a folder", "a socket", "a character device", "a block device",
// "a regular file" for a st_mode.
const char* FileKindText(unsigned mode);

}  // namespace rk
