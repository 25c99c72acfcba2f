// Console dialogue: the streams a tool talks on and the reading of answers.
//
// Answers are read the way formatted input reads them: white space, line ends
// included, is skipped before an answer, and what follows an answer stays in the
// input for the next read. Unlike formatted input, an answer must be a whole
// number as typed: "12abc", "nan", an integer beyond 32 bits, a word of more than
// 64 characters or with a NUL byte in it, or the end of input are not read as
// anything, and the read says so. Where Enter alone is an answer, a tool reads
// whole lines instead (read_line_answer).
#ifndef KIT_CONSOLE_H
#define KIT_CONSOLE_H

#include <cstdio>

// Made as {in, out}: the reading state that follows starts as zero.
struct Console {
    std::FILE *in;
    std::FILE *out;
    // A key wait ended on a carriage return: a line feed read next is its own.
    bool after_carriage_return;
};

// The process's own console, standard input and output.
Console standard_console();

// Each read first flushes the output, so a prompt is seen before the tool waits;
// output that can no longer be written is taken as the end of input.
bool read_int_answer(Console &console, int &value);
// A finite decimal number that fits a float: digits, point, exponent.
bool read_float_answer(Console &console, float &value);
// The next character that is not white space; the rest of its line stays unread.
bool read_char_answer(Console &console, char &answer);

// The longest line kept by read_line_answer; the rest of a longer one is read
// and dropped.
const int kMaxLineLength = 80;

enum LineAnswer { LINE_ANSWER, LINE_UNREADABLE, NO_LINE };

// Reads what is left of the current line, for answers a line at a time (where
// Enter alone means something): up to "\n", "\r\n" or a bare "\r", which is not
// kept. LINE_UNREADABLE for a line longer than kMaxLineLength or holding a NUL
// byte, read to its end all the same; NO_LINE at the end of input with nothing
// read, or when the output can no longer be written.
LineAnswer read_line_answer(Console &console, char (&line)[kMaxLineLength + 1]);

// Drops what is left of the line an answer was typed on, and its end.
void skip_rest_of_line(Console &console);

// A finite decimal number, the whole text: [sign] digits, point, exponent.
bool parse_decimal(const char *text, double &value);

// Reads one character and discards it, and returns at once, at the end of input
// too. A line end is one key whether it is sent as "\n", "\r\n" or a bare "\r":
// after a carriage return the next read drops one line feed that comes first,
// rather than this one waiting to see whether one comes.
void wait_for_key(Console &console);

void report_invalid_input(Console &console);

#endif // KIT_CONSOLE_H
