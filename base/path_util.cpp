#include "base/path_util.h"

namespace rk {

namespace {
size_t NameStart(std::string_view path) {
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}
}  // namespace

std::string FileNameOf(std::string_view path) { return std::string(path.substr(NameStart(path))); }

std::string FolderOf(std::string_view path) {
    size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return std::string();
    return std::string(path.substr(0, slash == 0 ? 1 : slash));
}

std::string ExtensionOf(std::string_view path) {
    std::string_view name = path.substr(NameStart(path));
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::string();
    return std::string(name.substr(dot));
}

std::string StemOf(std::string_view path) {
    std::string name = FileNameOf(path);
    name.resize(name.size() - ExtensionOf(name).size());
    return name;
}

std::string AsciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool ExtensionIs(std::string_view path, std::string_view ext) { return AsciiLower(ExtensionOf(path)) == AsciiLower(ext); }

}  // namespace rk
