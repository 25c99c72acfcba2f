// What a line typed where the loop check asks for a number holds.
#ifndef LOOP_CHECK_TYPED_NUMBER_H
#define LOOP_CHECK_TYPED_NUMBER_H

enum TypedNumber {
    TYPED_NOTHING,     // Enter alone, or blanks
    TYPED_QUIT,        // q or Q alone
    TYPED_NUMBER,      // one finite decimal number
    TYPED_WITH_UNIT,   // a number with a word after it, or joined to it: "12.0 mA", "12mA"
    TYPED_TWO_NUMBERS, // more than one number
    TYPED_NO_NUMBER    // anything else
};

// Reads line; value gets the number when there is one.
TypedNumber read_typed_number(const char *line, double &value);

#endif // LOOP_CHECK_TYPED_NUMBER_H
