#pragma once
// A run of pictures for ffmpeg's image reader, found by our own sequence
// rule: the pictures are linked into the tool's private working folder under
// contiguous numbers ("p_000.png", "p_001.png", ...), so the tool sees
// exactly those pictures, in that order, and nothing beside them. The reader
// never looks past a gap of the operator's numbering, and no name of the
// operator's reaches a pattern (a '%' or a digit run in a folder name stays
// out of it).
#include <string>
#include <vector>

namespace rk {

class CPipeFolder;

// Links `files` (in frame order) into `folder` and gives the image reader's
// input words ("-f image2 ... -i p_%03d.png"), to be used with the folder as
// the tool's working directory. The links keep the first picture's extension,
// by which the reader knows the format, when it is a plain one. False (with
// `cause`) when there is no picture, one cannot be read or linked.
bool LinkPictureRun(CPipeFolder& folder, const std::vector<std::string>& files, std::vector<std::string>& inputWords,
                    std::string& cause);

}  // namespace rk
