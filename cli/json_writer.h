#pragma once
// A small JSON writer for the listings of reelkeep-cli (--json): objects,
// arrays, strings, numbers and booleans, with commas placed by the writer.
//
//   CJsonWriter j;
//   j.BeginObject(); j.Key("name"); j.String("a\"b"); j.EndObject();
//   std::puts(j.Text().c_str());
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace rk::cli {

class CJsonWriter {
public:
    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    // The key of the next value inside an object.
    void Key(const std::string& key) {
        Separate();
        Quote(key);
        out_ += ':';
        afterKey_ = true;
    }
    void String(const std::string& s) {
        Separate();
        Quote(s);
    }
    void Int(int64_t v) {
        Separate();
        out_ += std::to_string(v);
    }
    void Bool(bool v) {
        Separate();
        out_ += v ? "true" : "false";
    }
    void Null() {
        Separate();
        out_ += "null";
    }
    // Key and value at once.
    void Field(const std::string& key, const std::string& v) { Key(key), String(v); }
    void Field(const std::string& key, const char* v) { Key(key), String(v); }
    void Field(const std::string& key, int64_t v) { Key(key), Int(v); }
    void Field(const std::string& key, int v) { Key(key), Int(v); }
    void Field(const std::string& key, unsigned v) { Key(key), Int(v); }
    void Field(const std::string& key, bool v) { Key(key), Bool(v); }

    const std::string& Text() const { return out_; }
    // Prints the text and a line end to standard output.
    void Print() const { std::printf("%s\n", out_.c_str()); }

private:
    void Open(char c) {
        Separate();
        out_ += c;
        first_.push_back(true);
    }
    void Close(char c) {
        out_ += c;
        if (!first_.empty()) first_.pop_back();
    }
    // A comma before every value but the first of its object or array; a
    // value right after its key takes none.
    void Separate() {
        if (afterKey_) {
            afterKey_ = false;
            return;
        }
        if (first_.empty()) return;
        if (!first_.back()) out_ += ',';
        first_.back() = false;
    }
    void Quote(const std::string& s) {
        out_ += '"';
        for (unsigned char c : s) {
            switch (c) {
                case '"': out_ += "\\\""; break;
                case '\\': out_ += "\\\\"; break;
                case '\n': out_ += "\\n"; break;
                case '\r': out_ += "\\r"; break;
                case '\t': out_ += "\\t"; break;
                default:
                    if (c < 0x20) {
                        char buf[8];
                        std::snprintf(buf, sizeof buf, "\\u%04x", c);
                        out_ += buf;
                    } else {
                        out_ += static_cast<char>(c);  // UTF-8 passes as it is
                    }
            }
        }
        out_ += '"';
    }

    std::string out_;
    std::vector<bool> first_;
    bool afterKey_ = false;
};

}  // namespace rk::cli
