// Reading what a person types: numbers as formatted input reads them, and
// everything else refused rather than guessed at.
#include "console.h"

#include "memory_console.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <optional>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

std::optional<int> int_answer(const std::string &input) {
    MemoryConsole memory(input);
    int value = -12345;
    if (!read_int_answer(memory.console(), value)) {
        EXPECT_EQ(value, -12345) << "a refused answer must leave the variable alone";
        return std::nullopt;
    }
    return value;
}

std::optional<float> float_answer(const std::string &input) {
    MemoryConsole memory(input);
    float value = -1.0f;
    if (!read_float_answer(memory.console(), value)) {
        return std::nullopt;
    }
    return value;
}

TEST(ReadIntAnswer, ReadsDecimalIntegersAcrossTheWhole32BitRange) {
    EXPECT_EQ(int_answer("3\n"), 3);
    EXPECT_EQ(int_answer("  \n\t 42 \n"), 42);
    EXPECT_EQ(int_answer("-1\n"), -1);
    EXPECT_EQ(int_answer("+7\n"), 7);
    EXPECT_EQ(int_answer("007\n"), 7);
    EXPECT_EQ(int_answer("2147483647\n"), INT_MAX);
    EXPECT_EQ(int_answer("-2147483648\n"), INT_MIN);
    EXPECT_EQ(int_answer("5"), 5) << "an answer at the very end of input";
}

TEST(ReadIntAnswer, RefusesWhatIsNotAWholeInteger) {
    for (const char *input :
         {"", "   \n\n", "abc\n", "12abc\n", "1.5\n", "-\n", "+\n", "--1\n", "0x10\n",
          "2147483648\n", "-2147483649\n", "99999999999999999999\n", "1e3\n"}) {
        EXPECT_EQ(int_answer(input), std::nullopt) << "input: " << input;
    }
}

TEST(ReadIntAnswer, RefusesAnOverlongWordEvenIfItIsDigits) {
    EXPECT_EQ(int_answer(std::string(200, '0') + "1\n"), std::nullopt);
}

TEST(ReadAnswers, RefuseAWordAsSoonAsItIsTooLongOrHoldsANulByte) {
    // A word that may never end (a console reading /dev/zero) is not read to its end.
    MemoryConsole endless(std::string(100000, '7'));
    int value = 0;
    EXPECT_FALSE(read_int_answer(endless.console(), value));
    EXPECT_GT(endless.unread_input().size(), 100000u - 100u);

    for (const std::string &input : {std::string("4\0junk\n", 7), std::string("\0\n", 2)}) {
        EXPECT_EQ(int_answer(input), std::nullopt);
        EXPECT_EQ(float_answer(input), std::nullopt);
    }
}

TEST(ReadFloatAnswer, ReadsDecimalNumbers) {
    EXPECT_EQ(float_answer("1.5\n"), 1.5f);
    EXPECT_EQ(float_answer("12\n"), 12.0f);
    EXPECT_EQ(float_answer("-2.5\n"), -2.5f);
    EXPECT_EQ(float_answer(".5\n"), 0.5f);
    EXPECT_EQ(float_answer("5.\n"), 5.0f);
    EXPECT_EQ(float_answer("1e1\n"), 10.0f);
    EXPECT_EQ(float_answer("2.5E-1\n"), 0.25f);
    EXPECT_EQ(float_answer("3.4e38\n"), 3.4e38f);
}

TEST(ReadFloatAnswer, RefusesWhatIsNotAFiniteNumber) {
    for (const char *input :
         {"", "nan\n", "NAN\n", "inf\n", "-infinity\n", "1e39\n", "-1e39\n", "1e400\n", "abc\n",
          "1.5V\n", ".\n", "e5\n", "1e\n", "1e+\n", "0x1p3\n", "1..5\n", "1,5\n"}) {
        EXPECT_EQ(float_answer(input), std::nullopt) << "input: " << input;
    }
}

TEST(ReadAnswers, SeveralAnswersOnOneLineAreReadInTurnAndTheLineEndIsLeft) {
    MemoryConsole memory("4 12.5 3\nrest");
    int range = 0;
    float value = 0;
    int channel = 0;
    ASSERT_TRUE(read_int_answer(memory.console(), range));
    ASSERT_TRUE(read_float_answer(memory.console(), value));
    ASSERT_TRUE(read_int_answer(memory.console(), channel));
    EXPECT_EQ(range, 4);
    EXPECT_EQ(value, 12.5f);
    EXPECT_EQ(channel, 3);
    EXPECT_EQ(memory.unread_input(), "\nrest");
}

TEST(ReadCharAnswer, TakesTheFirstCharacterThatIsNotWhiteSpaceAndLeavesTheRest) {
    MemoryConsole memory("\n  \n  yes\nq");
    char answer = 0;
    ASSERT_TRUE(read_char_answer(memory.console(), answer));
    EXPECT_EQ(answer, 'y');
    EXPECT_EQ(memory.unread_input(), "es\nq");
}

TEST(ReadCharAnswer, FailsAtTheEndOfInput) {
    MemoryConsole memory(" \n\t\n");
    char answer = 'x';
    EXPECT_FALSE(read_char_answer(memory.console(), answer));
}

TEST(WaitForKey, TakesExactlyOneCharacterAndReturnsAtTheEndOfInput) {
    MemoryConsole memory("\nab");
    wait_for_key(memory.console());
    EXPECT_EQ(memory.unread_input(), "ab");

    MemoryConsole empty("");
    wait_for_key(empty.console());
    wait_for_key(empty.console());
    EXPECT_EQ(empty.unread_input(), "");
}

TEST(WaitForKey, TakesEachKindOfLineEndAsOneKey) {
    for (const std::string line_end : {"\n", "\r\n", "\r"}) {
        // The answer's own line end, then the one key the user presses.
        MemoryConsole memory("4" + line_end + line_end + "x 5" + line_end);
        int answer = 0;
        ASSERT_TRUE(read_int_answer(memory.console(), answer));
        wait_for_key(memory.console());
        wait_for_key(memory.console());
        char next = 0;
        ASSERT_TRUE(read_char_answer(memory.console(), next));
        EXPECT_EQ(next, 'x') << testing::PrintToString(line_end);
        ASSERT_TRUE(read_int_answer(memory.console(), answer));
        EXPECT_EQ(answer, 5);
    }
}

#ifndef _WIN32
// A console that holds only what was typed so far, as a terminal does: reading
// past it would wait for the user.
TEST(WaitForKey, ReadsNothingPastACarriageReturn) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(fcntl(ends[0], F_SETFL, O_NONBLOCK), 0);
    ASSERT_EQ(write(ends[1], "\r", 1), 1);
    Console console{};
    console.in = fdopen(ends[0], "r");
    console.out = stdout;
    wait_for_key(console);
    EXPECT_FALSE(std::ferror(console.in)) << "it read on and would have waited for a second key";
    std::fclose(console.in);
    close(ends[1]);
}
#endif

} // namespace

// Answers a line at a time: each kind of line end ends one line and is not
// kept, a long line or one with a NUL byte is read to its end and refused, and
// the end of input is no line.
TEST(ReadLineAnswer, ReadsALineToItsEndWhateverItsLineEnd) {
    struct Case {
        std::string input;
        std::vector<std::string> lines; // "!" for a line refused
        std::string unread;
    };
    const Case cases[] = {
        {"12.5\n\nq\n", {"12.5", "", "q"}, ""},
        {"a\r\nb\rc\n", {"a", "b", "c"}, ""},
        {"\r\n\r\n", {"", ""}, ""},
        {"last", {"last"}, ""},
        {std::string(81, '7') + "\n8\n", {"!", "8"}, ""},
        {std::string(80, '7') + "\n", {std::string(80, '7')}, ""},
        {std::string("1\0002\n3\n", 6), {"!", "3"}, ""},
        {"x\ny\n", {"x"}, "y\n"},
    };
    for (const Case &c : cases) {
        MemoryConsole memory(c.input);
        for (const std::string &wanted : c.lines) {
            char line[kMaxLineLength + 1];
            const LineAnswer read = read_line_answer(memory.console(), line);
            EXPECT_EQ(read == LINE_UNREADABLE ? "!" : std::string(line), wanted) << c.input;
            EXPECT_NE(read, NO_LINE) << c.input;
        }
        if (c.unread.empty()) {
            char line[kMaxLineLength + 1];
            EXPECT_EQ(read_line_answer(memory.console(), line), NO_LINE) << c.input;
        }
        EXPECT_EQ(memory.unread_input(), c.unread) << c.input;
    }
}

TEST(ReadLineAnswer, TheRestOfAnAnswersLineIsDroppedWithItsEnd) {
    for (const char *input : {"4 1 junk\nnext\n", "4 1\r\nnext\n", "4 1\rnext\n"}) {
        MemoryConsole memory(input);
        int range = 0;
        int channel = 0;
        ASSERT_TRUE(read_int_answer(memory.console(), range));
        ASSERT_TRUE(read_int_answer(memory.console(), channel));
        skip_rest_of_line(memory.console());
        char line[kMaxLineLength + 1];
        EXPECT_EQ(read_line_answer(memory.console(), line), LINE_ANSWER) << input;
        EXPECT_STREQ(line, "next") << input;
    }
}
