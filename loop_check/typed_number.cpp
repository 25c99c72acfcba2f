#include "typed_number.h"

#include "console.h"

#include <cstring>

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

const char *skip_blanks(const char *text) {
    while (is_blank(*text)) {
        ++text;
    }
    return text;
}

// Copies the word that text starts with into word, and returns where it ends.
const char *next_word(const char *text, char (&word)[kMaxLineLength + 1]) {
    int length = 0;
    while (*text != '\0' && !is_blank(*text)) {
        word[length++] = *text++;
    }
    word[length] = '\0';
    return text;
}

bool is_number_character(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E';
}

// "12mA", "4.5%": a number with its unit joined to it.
bool is_number_with_unit(const char *word) {
    char number[kMaxLineLength + 1];
    int length = 0;
    while (is_number_character(word[length])) {
        number[length] = word[length];
        ++length;
    }
    number[length] = '\0';
    // A unit begins with a letter or is %: "12,003" is a decimal comma.
    const char after = word[length];
    const bool unit =
        (after >= 'a' && after <= 'z') || (after >= 'A' && after <= 'Z') || after == '%';
    double ignored = 0.0;
    return length > 0 && unit && parse_decimal(number, ignored);
}

} // namespace

TypedNumber read_typed_number(const char *line, double &value) {
    char word[kMaxLineLength + 1];
    const char *rest = next_word(skip_blanks(line), word);
    if (word[0] == '\0') {
        return TYPED_NOTHING;
    }
    rest = skip_blanks(rest);
    if (!parse_decimal(word, value)) {
        if (is_number_with_unit(word)) {
            return TYPED_WITH_UNIT;
        }
        const bool quit = std::strcmp(word, "q") == 0 || std::strcmp(word, "Q") == 0;
        return quit && *rest == '\0' ? TYPED_QUIT : TYPED_NO_NUMBER;
    }
    if (*rest == '\0') {
        return TYPED_NUMBER;
    }
    double second = 0.0;
    next_word(rest, word);
    return parse_decimal(word, second) ? TYPED_TWO_NUMBERS : TYPED_WITH_UNIT;
}
