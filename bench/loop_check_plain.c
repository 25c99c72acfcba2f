/*
 * The loop check as a plain C program would do it: the same dialogue and the
 * same calls as ao_loop_check, with scanf and fgets on the standard streams,
 * and no more checking of what is typed than the loop check's own. What the
 * tool costs is measured beside it (loop_check_bench.sh), on the same input,
 * which must give the same output.
 */
#include "zmod4710.h"

#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char *const labels[6] = {"0 ~ 5V",    "0 ~ 10V",  "-5 ~ 5V",
                                      "-10 ~ 10V", "4 ~ 20mA", "0 ~ 20mA"};
static const float lows[6] = {0.0f, 0.0f, -5.0f, -10.0f, 4.0f, 0.0f};
static const float highs[6] = {5.0f, 10.0f, 5.0f, 10.0f, 20.0f, 20.0f};
static const int percents[9] = {0, 25, 50, 75, 100, 75, 50, 25, 0};

/* A line without its end; 0 at the end of input. */
static int read_line(char *line, int size) {
    size_t length;
    fflush(stdout);
    if (fgets(line, size, stdin) == NULL) {
        return 0;
    }
    length = strcspn(line, "\r\n");
    line[length] = '\0';
    return 1;
}

/* 1: a number, 0: Enter alone, 2: q, -1: the end of input; asked again otherwise. */
static int read_number(const char *prompt, int q_ends, double *value) {
    char line[128];
    char word[128];
    char rest[128];
    for (;;) {
        int words;
        char *end;
        fputs(prompt, stdout);
        if (!read_line(line, sizeof line)) {
            return -1;
        }
        words = sscanf(line, "%127s %127s", word, rest);
        if (words <= 0) {
            return 0;
        }
        if (q_ends && words == 1 && (strcmp(word, "q") == 0 || strcmp(word, "Q") == 0)) {
            return 2;
        }
        *value = strtod(word, &end);
        if (end != word && *end == '\0' && words == 1) {
            return 1;
        }
        if (end != word && *end == '\0') {
            char *rest_end;
            strtod(rest, &rest_end);
            fputs(rest_end != rest && *rest_end == '\0'
                      ? "Type one number only \n"
                      : "Type the number alone, without a unit \n",
                  stdout);
        } else if (end != word && (isalpha((unsigned char)*end) || *end == '%')) {
            fputs("Type the number alone, without a unit \n", stdout);
        } else {
            fputs(q_ends ? "Not a number : type the reading, Enter alone to skip, or q to end \n"
                         : "Not a number : type a number, or Enter alone \n",
                  stdout);
        }
    }
}

static double shown_percent(double difference, int range) {
    double percent = difference / (highs[range] - lows[range]) * 100.0;
    double thousandths = floor((floor(fabs(percent) * 1e6 + 0.5) + 500.0) / 1000.0);
    return thousandths == 0.0 ? 0.0 : (percent < 0.0 ? -thousandths : thousandths) / 1000.0;
}

int main(void) {
    int slot, range = 0, channel = 0, done = 0, read_count = 0, failed = 0, last = 0, i;
    int largest = -1, hysteresis_at = -1;
    double tolerance = 0.5, value, hysteresis = 0.0;
    double readings[9], errors[9];
    int results[9]; /* 0 pass, 1 fail, 2 skipped, 3 not written */
    const char *unit;
    char prompt[128];

    for (slot = 0; slot < 8 && zmod4710_Init(slot) != 0; ++slot) {
    }
    if (slot == 8) {
        fputs("There is no ZM-4710 on the backplane \n", stdout);
        getchar();
        return 0;
    }
    printf("ZM-4710 on slot %d \n", slot);
    fputs("Select Output Range : \n", stdout);
    for (i = 0; i < 6; ++i) {
        printf("%d : %s \n", i, labels[i]);
    }
    if (scanf("%d", &range) != 1 || range < 0 || range > 5) {
        fputs("invalid input\n", stdout);
        return 0;
    }
    fputs(range <= 3 ? "Please make sure the Jumper is in voltage operation\n"
                     : "Please make sure the Jumper is in current operation\n",
          stdout);
    fputs("Set output channel : \n\t For ZM-4710 Channel index 0~7  \n"
          "\t For ZM-4704 Channel index 0~3  \n",
          stdout);
    if (scanf("%d", &channel) != 1) {
        fputs("invalid input\n", stdout);
        return 0;
    }
    for (i = getchar(); i != EOF && i != '\n'; i = getchar()) {
    }
    for (;;) {
        int answer = read_number("Set tolerance in % of span, Enter for 0.5 : \n", 0, &tolerance);
        if (answer < 0) {
            fputs("invalid input\n", stdout);
            return 0;
        }
        if (answer == 0) {
            tolerance = 0.5;
            break;
        }
        if (tolerance > 0.0 && tolerance <= 100.0) {
            break;
        }
        fputs("The tolerance is a number above 0, at most 100 \n", stdout);
    }

    unit = range <= 3 ? "V" : "mA";
    sprintf(prompt, "Reading in %s, Enter to skip, q to end : \n", unit);
    for (; done < 9 && last != 2 && last != -1; ++done) {
        float point = lows[range] + (highs[range] - lows[range]) * (float)percents[done] / 100;
        int result;
        printf("Point %d of 9 : %d%% of span , AO %.3f %s at CH %d \n", done + 1, percents[done],
               point, unit, channel);
        result = zmod4710_WriteAO(slot, channel, (short)range, point);
        if (result != 0) {
            printf("zmod4710_WriteAO refused with result %d \n", result);
            printf("Point %d FAIL , the output was not written \n", done + 1);
            results[done] = 3;
            continue;
        }
        last = read_number(prompt, 1, &readings[done]);
        if (last == 1) {
            errors[done] = shown_percent(readings[done] - point, range);
            results[done] = fabs(errors[done]) <= tolerance ? 0 : 1;
            printf("Error %.3f %% of span , %s \n", errors[done], results[done] ? "FAIL" : "PASS");
        } else if (last == 0) {
            results[done] = 2;
            printf("Point %d skipped \n", done + 1);
        } else {
            --done;
        }
    }

    printf("Loop check of CH %d , %s , tolerance %.3f %% of span \n", channel, labels[range],
           tolerance);
    fputs("Point % span  AO value    Reading  Error %  Result \n", stdout);
    for (i = 0; i < done; ++i) {
        float point = lows[range] + (highs[range] - lows[range]) * (float)percents[i] / 100;
        if (results[i] <= 1) {
            printf("%5d %6d %9.3f %10.4f %8.3f  %s \n", i + 1, percents[i], point, readings[i],
                   errors[i], results[i] ? "FAIL" : "PASS");
            ++read_count;
            if (largest < 0 || fabs(errors[i]) > fabs(errors[largest])) {
                largest = i;
            }
        } else {
            printf("%5d %6d %9.3f %10s %8s  %s \n", i + 1, percents[i], point, "-", "-",
                   results[i] == 2 ? "skipped" : "FAIL");
        }
        failed = failed || results[i] == 1 || results[i] == 3;
    }
    for (i = 0; i < 4; ++i) {
        if (8 - i < done && results[i] <= 1 && results[8 - i] <= 1) {
            double difference = shown_percent(fabs(readings[i] - readings[8 - i]), range);
            if (hysteresis_at < 0 || difference > hysteresis) {
                hysteresis = difference;
                hysteresis_at = i;
            }
        }
    }
    if (largest < 0) {
        fputs("Largest error - , no point read \n", stdout);
    } else {
        printf("Largest error %.3f %% of span , at point %d \n", errors[largest], largest + 1);
    }
    if (hysteresis_at < 0) {
        fputs("Hysteresis - , no point read going up and coming down \n", stdout);
    } else {
        printf("Hysteresis %.3f %% of span , at %d%% \n", hysteresis, percents[hysteresis_at]);
    }
    printf("Verdict %s , %d of 9 points read \n", read_count > 0 && !failed ? "PASS" : "FAIL",
           read_count);
    if (last == -1) {
        return 0;
    }
    sprintf(prompt, "Set AO value to leave CH %d at, between %s, Enter to leave it : \n", channel,
            labels[range]);
    last = read_number(prompt, 0, &value);
    if (last == 0) {
        printf("CH %d left as the check left it \n", channel);
    } else if (last == 1) {
        int result = zmod4710_WriteAO(slot, channel, (short)range, (float)value);
        if (result != 0) {
            printf("zmod4710_WriteAO refused with result %d \n", result);
        } else {
            printf("CH %d left at AO %.3f %s \n", channel, (float)value, unit);
        }
    }
    return 0;
}
