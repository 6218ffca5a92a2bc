#pragma once
// The pictures of a logo: the chosen picture and the numbered pictures that
// follow it. The number is the last run of digits in the file name before
// its last three characters (the extension of "logo_0007.png"); the
// sequence runs upwards from the chosen number to the first gap, each
// number written with at least the chosen one's digits. A name without such
// a run is one picture alone. Digits in the folders never count: a picture
// in "logos 2024/" is not the first of a run through "logos 2025/".
#include <cstddef>
#include <string>
#include <vector>

#include "convert/picture_run.h"

namespace rk {

struct LogoPictures {
    std::vector<std::string> paths;  // in frame order, the chosen picture first
    // When the name is numbered: the path before and after the digits, the
    // digits' width and the first number. The tool never gets a pattern of
    // these: it reads the pictures through contiguous links (picture_run.h).
    bool numbered = false;
    std::string prefix, suffix;
    int width = 0;
    long long first = 0;
    // What ended the run early, when it was not a gap (a FIFO, a folder).
    PictureRunEnd end;
};

// Finds the sequence of `chosen`, at most `limit` pictures; a numbered
// name counts only where a regular file lies.
LogoPictures FindLogoPictures(const std::string& chosen, size_t limit);

// `text` with every '%' doubled, for a tool that reads it as a pattern.
std::string EscapePercent(const std::string& text);

}  // namespace rk
