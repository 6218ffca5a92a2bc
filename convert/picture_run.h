#pragma once
// A run of pictures for ffmpeg's image reader, found by our own sequence
// rule: the pictures are linked into the tool's private working folder under
// contiguous numbers ("p_000.png", "p_001.png", ...), so the tool sees
// exactly those pictures, in that order, and nothing beside them. The reader
// never looks past a gap of the operator's numbering, and no name of the
// operator's reaches a pattern (a '%' or a digit run in a folder name stays
// out of it).
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace rk {

class CPipeFolder;

// The sequence rule of every numbered run of pictures (effects, logos,
// videos): the last run of digits of the file name before its last three
// characters counts up from the chosen picture (at least as wide as it was)
// until a name `exists` does not know, at most `limit` names. Empty when the
// name has no such digits. Only the file name is looked at, never the
// folders above it.
std::vector<std::string> NumberedPictures(const std::string& path,
                                          const std::function<bool(const std::string&)>& exists, size_t limit);

// What ended a run early: the next name of the run names something that is
// not a regular file (a FIFO, a folder, a device). Empty `path` when the run
// ended at a name that is not there, or at the limit.
struct PictureRunEnd {
    std::string path;
    std::string what;  // "a FIFO", "a folder", ...
};
// The same against the file system (regular files only), telling in `end`
// what stopped the run.
std::vector<std::string> NumberedPictures(const std::string& path, size_t limit, PictureRunEnd* end = nullptr);

// A run named by a printf-style number in the file name ("shot_%04d.png",
// "f%d.tif"; "%%" is a percent sign): its pictures from the lowest number
// found in the folder upwards to the first gap, by the sequence rule, at
// most `limit`. False (with `cause`) when the name holds no such number or
// no picture of it exists. A name holding a '%' that is itself a file is
// that file, not a pattern: callers look for the file first.
bool PatternPictures(const std::string& pattern, size_t limit, std::vector<std::string>& pictures,
                     PictureRunEnd* end, std::string& cause);
// Whether the file name of `path` holds a printf-style number.
bool IsPicturePattern(const std::string& path);

// Links `files` (in frame order) into `folder` and gives the image reader's
// input words ("-f image2 ... -i p_%03d.png"), to be used with the folder as
// the tool's working directory. The links keep the first picture's extension,
// by which the reader knows the format, when it is a plain one. False (with
// `cause`) when there is no picture, one cannot be read or linked.
bool LinkPictureRun(CPipeFolder& folder, const std::vector<std::string>& files, std::vector<std::string>& inputWords,
                    std::string& cause);

}  // namespace rk
