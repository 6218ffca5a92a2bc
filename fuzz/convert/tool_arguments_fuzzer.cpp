// Argument templates and values of any shape: values always arrive whole,
// in order, inside the words of the template.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "convert/app_launch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte splits the input into a template and up to three values.
    if (size < 1) return 0;
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    size_t cut = data[0] % (rest.size() + 1);
    std::string_view tmpl = rest.substr(0, cut);
    std::string tail(rest.substr(cut));
    std::vector<std::string> values;
    for (int i = 0; i < 3; ++i) values.push_back(tail.substr(tail.size() * i / 3, tail.size() / 3));
    std::vector<std::string> words;
    if (!rk::BuildArguments(tmpl, values, words)) return 0;
    size_t total = 0;
    for (const auto& w : words) total += w.size();
    size_t expected = 0;
    for (const auto& v : values) expected += v.size();
    if (total < expected) __builtin_trap();  // a value was cut or lost
    return 0;
}
