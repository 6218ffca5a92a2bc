#pragma once
// CINIParser reads the captured output of a probe: "[SECTION]" lines and
// "key=value" lines, as ffprobe writes them by default. Only the first
// section of a name is searched (or the one block chosen with SelectBlock),
// and a key matches only when "=" follows it
// directly ("duration" does not match "duration_ts=...").
#include <cstdio>
#include <string>

namespace rk {

class CINIParser {
public:
    explicit CINIParser(const std::string& path);
    virtual ~CINIParser();

    CINIParser(const CINIParser&) = delete;
    CINIParser& operator=(const CINIParser&) = delete;

    bool IsOpen() const { return file_ != nullptr; }

    // The value of `key` in the first section named `section`: the rest of
    // the line after "=" including its line end, at most 255 characters.
    // Empty when there is no file, no such section or no such key. The
    // returned text lives until the next call.
    const char* GetValue(const char* section, const char* key);

    // The value read as a C integer or floating number; 0 when empty or
    // not a number ("N/A").
    long long GetInteger(const char* section, const char* key);
    double GetDouble(const char* section, const char* key);
    // The value as one word: without its line end and surrounding blanks.
    std::string GetWord(const char* section, const char* key);
    // True when any line of the file, in whatever section, begins with
    // `prefix` (ffprobe prints side data in sections of their own, one per
    // kind, so a key there can sit in the second section of a name).
    bool HasLine(const char* prefix);

    // Narrows the reading to one block of a file that holds several of a
    // name (ffprobe's [STREAM] ... [/STREAM], one per stream): the first
    // block named `section` with a line `key`=`value`. From then on,
    // GetValue of `section` reads that block, and HasLine looks only inside
    // it; other sections read as before. False, and `section` reads as
    // absent, when no block has that line.
    bool SelectBlock(const char* section, const char* key, const char* value);

private:
    FILE* file_ = nullptr;
    char value_[256] = {};
    std::string blockSection_;
    long blockBegin_ = -1, blockEnd_ = -1;  // -1: the named section is absent
};

}  // namespace rk
