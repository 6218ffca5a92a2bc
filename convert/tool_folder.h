#pragma once
// Where the external tools and the artwork live: the program's own folder,
// the directory of /proc/self/exe. Tools are never looked up on PATH.
#include <string>

namespace rk {

// File names of the bundled tools and artwork beside the executables.
inline constexpr const char* kToolFfmpeg = "ffmpeg";
inline constexpr const char* kToolFfprobe = "ffprobe";
inline constexpr const char* kToolImgConvert = "img_convert";
inline constexpr const char* kLoopPicture = "loop.png";
inline constexpr const char* kTitleFont = "LCDM2B__.TTF";

// The folder of the running program with its trailing '/'. Tests may point
// it elsewhere with SetProgramFolder (an empty path restores the real one).
std::string ProgramFolder();
void SetProgramFolder(const std::string& folder);

// ProgramFolder() + name.
std::string ProgramFile(const std::string& name);

// The system's temporary folder (TMPDIR, else /tmp), without trailing '/'.
std::string TempFolder();

// An absolute form of `path` (relative paths are taken from the current
// directory), because the tools run with the program folder as theirs.
std::string AbsolutePath(const std::string& path);

}  // namespace rk
