#include "console.h"

#include <cctype>
#include <cfloat>
#include <climits>
#include <cstdlib>

// Only POSIX systems end a program that writes to a reader that has gone; the
// Windows CE C run time may not even have <signal.h>.
#ifndef _WIN32
#include <csignal>
#endif

namespace {

// Longer than any number a person means to type; a longer word is not a number.
const int kMaxAnswerLength = 64;

bool is_blank(int c) {
    return c != EOF && std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The next character typed, without the line feed of a "\r\n" whose carriage
// return a key wait took.
int next_char(Console &console) {
    int c = std::fgetc(console.in);
    if (console.after_carriage_return) {
        console.after_carriage_return = false;
        if (c == '\n') {
            c = std::fgetc(console.in);
        }
    }
    return c;
}

int skip_blanks(Console &console) {
    int c = next_char(console);
    while (is_blank(c)) {
        c = next_char(console);
    }
    return c;
}

// Flushes what the tool has written, so a prompt is seen before the tool waits.
// False when the output can no longer be written (a reader that has gone): there
// is nobody left to answer, as at the end of input.
bool flush_output(Console &console) {
    return std::fflush(console.out) == 0 && std::ferror(console.out) == 0;
}

// Reads the next run of characters that are not white space into word. The
// white space that ends it goes back into the input, as formatted input leaves it.
// A word too long to be a number, or one holding a NUL byte, is refused as soon
// as it is seen, without reading the rest of it, which may never end.
bool read_word(Console &console, char (&word)[kMaxAnswerLength + 1]) {
    if (!flush_output(console)) {
        return false;
    }
    int c = skip_blanks(console);
    int length = 0;
    while (c != EOF && !is_blank(c)) {
        if (length == kMaxAnswerLength || c == '\0') {
            return false;
        }
        word[length++] = static_cast<char>(c);
        c = std::fgetc(console.in);
    }
    if (c != EOF) {
        std::ungetc(c, console.in);
    }
    word[length] = '\0';
    return length > 0;
}

const char *skip_sign(const char *text) {
    return (*text == '+' || *text == '-') ? text + 1 : text;
}

const char *skip_digits(const char *text) {
    while (is_digit(*text)) {
        ++text;
    }
    return text;
}

bool parse_int(const char *word, int &value) {
    const bool negative = word[0] == '-';
    const char *digits = skip_sign(word);
    if (!is_digit(*digits) || *skip_digits(digits) != '\0') {
        return false;
    }
    // Accumulate towards the sign's side so INT_MIN needs no special case.
    int result = 0;
    for (const char *p = digits; *p != '\0'; ++p) {
        const int digit = *p - '0';
        if (negative) {
            if (result < (INT_MIN + digit) / 10) {
                return false;
            }
            result = result * 10 - digit;
        } else {
            if (result > (INT_MAX - digit) / 10) {
                return false;
            }
            result = result * 10 + digit;
        }
    }
    value = result;
    return true;
}

// [sign] digits [. [digits]] | [sign] . digits, then an optional exponent.
bool is_decimal_number(const char *word) {
    const char *p = skip_sign(word);
    const char *integer_end = skip_digits(p);
    bool has_digits = integer_end != p;
    p = integer_end;
    if (*p == '.') {
        const char *fraction_end = skip_digits(p + 1);
        has_digits = has_digits || fraction_end != p + 1;
        p = fraction_end;
    }
    if (!has_digits) {
        return false;
    }
    if (*p == 'e' || *p == 'E') {
        const char *exponent = skip_sign(p + 1);
        if (!is_digit(*exponent)) {
            return false;
        }
        p = skip_digits(exponent);
    }
    return *p == '\0';
}

bool parse_float(const char *word, float &value) {
    double number = 0.0;
    if (!parse_decimal(word, number) || !(number >= -FLT_MAX && number <= FLT_MAX)) {
        return false;
    }
    value = static_cast<float>(number);
    return true;
}

// The end of a line: a line feed, or a carriage return, whose line feed the
// next read drops.
bool ends_line(Console &console, int c) {
    console.after_carriage_return = c == '\r';
    return c == EOF || c == '\n' || c == '\r';
}

} // namespace

Console standard_console() {
#ifdef SIGPIPE
    // Writing to a reader that has gone fails as a write, which the next read
    // sees, instead of ending the tool with a signal.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    Console console = {stdin, stdout, false};
    return console;
}

bool read_int_answer(Console &console, int &value) {
    char word[kMaxAnswerLength + 1];
    return read_word(console, word) && parse_int(word, value);
}

bool read_float_answer(Console &console, float &value) {
    // Zeroed, though read_word ends what it fills, as the analysis cannot see.
    char word[kMaxAnswerLength + 1] = "";
    return read_word(console, word) && parse_float(word, value);
}

bool read_char_answer(Console &console, char &answer) {
    if (!flush_output(console)) {
        return false;
    }
    const int c = skip_blanks(console);
    if (c == EOF) {
        return false;
    }
    answer = static_cast<char>(c);
    return true;
}

bool parse_decimal(const char *text, double &value) {
    if (!is_decimal_number(text)) {
        return false;
    }
    const double number = std::strtod(text, 0);
    if (!(number >= -DBL_MAX && number <= DBL_MAX)) {
        return false;
    }
    value = number;
    return true;
}

LineAnswer read_line_answer(Console &console, char (&line)[kMaxLineLength + 1]) {
    if (!flush_output(console)) {
        return NO_LINE;
    }
    int c = next_char(console);
    if (c == EOF) {
        return NO_LINE;
    }
    int length = 0;
    bool unreadable = false;
    for (; !ends_line(console, c); c = std::fgetc(console.in)) {
        if (length == kMaxLineLength || c == '\0') {
            unreadable = true;
        } else {
            line[length++] = static_cast<char>(c);
        }
    }
    line[length] = '\0';
    return unreadable ? LINE_UNREADABLE : LINE_ANSWER;
}

void skip_rest_of_line(Console &console) {
    int c = next_char(console);
    while (!ends_line(console, c)) {
        c = std::fgetc(console.in);
    }
}

void wait_for_key(Console &console) {
    if (!flush_output(console)) {
        return;
    }
    // A console or serial line that does not translate line ends sends "\r\n" or
    // a bare "\r": either is one key, and the wait must not read past it.
    console.after_carriage_return = next_char(console) == '\r';
}

void report_invalid_input(Console &console) {
    std::fputs("invalid input\n", console.out);
}
