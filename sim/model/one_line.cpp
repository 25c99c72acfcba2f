#include "one_line.hpp"

#include <cstdio>

namespace zmod4710_sim {

namespace {

constexpr char kLeftOut[] = "...";

std::string escaped(unsigned char c) {
    switch (c) {
    case '\n':
        return "\\n";
    case '\r':
        return "\\r";
    case '\t':
        return "\\t";
    default:
        break;
    }
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02x", static_cast<unsigned int>(c));
    return text;
}

// U+0080 to U+009F, the second set of control characters, as UTF-8 writes them.
bool is_c1_control(std::string_view text, std::size_t at) {
    return static_cast<unsigned char>(text[at]) == 0xc2 && at + 1 < text.size() &&
           static_cast<unsigned char>(text[at + 1]) >= 0x80 &&
           static_cast<unsigned char>(text[at + 1]) <= 0x9f;
}

} // namespace

std::string one_line(std::string_view text, std::size_t limit) {
    std::string cut;
    if (text.size() > limit) {
        const std::size_t half = (limit - (sizeof kLeftOut - 1)) / 2;
        cut = std::string(text.substr(0, half)) + kLeftOut +
              std::string(text.substr(text.size() - half));
        text = cut;
    }
    std::string line;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x20 || c == 0x7f) {
            line += escaped(c);
        } else if (is_c1_control(text, at)) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x",
                          static_cast<unsigned int>(static_cast<unsigned char>(text[++at])));
            line += code;
        } else {
            line += static_cast<char>(c);
        }
    }
    return line;
}

} // namespace zmod4710_sim
