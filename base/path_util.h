#pragma once
// Splitting paths into folder, file name and extension: the one place every
// layer asks. Paths are byte strings with '/' between folders; an extension
// is the last dot of the file name onwards, and a dot that begins the name
// (".hidden") is no extension.
#include <string>
#include <string_view>

namespace rk {

// "a/b/c.mp4" gives "c.mp4"; a path without '/' is its own file name.
std::string FileNameOf(std::string_view path);
// "a/b/c.mp4" gives "a/b"; "/c" gives "/"; a path without '/' gives "".
std::string FolderOf(std::string_view path);
// "c.mp4" gives ".mp4"; "c", ".hidden" and "a.b/c" give "".
std::string ExtensionOf(std::string_view path);
// The file name without its extension: "a/b/c.tar.gz" gives "c.tar".
std::string StemOf(std::string_view path);
// True when ExtensionOf(path) equals `ext` (with its dot) without regard to
// ASCII case.
bool ExtensionIs(std::string_view path, std::string_view ext);
// ASCII lower case.
std::string AsciiLower(std::string_view s);

}  // namespace rk
