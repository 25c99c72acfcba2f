// The same tests of drive_channel with GoogleTest: a fixture gives each case a
// factory backplane in the process's memory and an empty history.
#include <gtest/gtest.h>

#include <zmod4710_sim.h>

#include "drive_channel.h"

#include <cstdio>
#include <string>

namespace {

struct Printed {
    int status;
    std::string out;
    std::string err;
};

std::string read_back(std::FILE *file) {
    std::string text;
    std::rewind(file);
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        text += static_cast<char>(c);
    }
    std::fclose(file);
    return text;
}

Printed run_drive_channel() {
    std::FILE *out = std::tmpfile();
    std::FILE *err = std::tmpfile();
    const int status = drive_channel(out, err);
    return {status, read_back(out), read_back(err)};
}

class DriveChannel : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(zmod4710_sim_use_memory(), 0);
        ASSERT_EQ(zmod4710_sim_reset(), 0);
    }
};

TEST_F(DriveChannel, DrivesChannel0OfTheModuleItFinds) {
    ASSERT_EQ(zmod4710_sim_remove(0), 0);
    ASSERT_EQ(zmod4710_sim_insert(3, "ZM-4704", 3), 0);
    ASSERT_EQ(zmod4710_sim_calibrate(3, 0, 4, 32000, -5), 0);

    const Printed run = run_drive_channel();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "slot 3 channel 0: 12 mA, gain 32000, offset -5\n");
    short range = 0;
    float value = 0.0f;
    ASSERT_EQ(zmod4710_sim_output(3, 0, &range, &value), 0);
    EXPECT_EQ(range, 4);
    EXPECT_EQ(value, 12.0f);
}

TEST_F(DriveChannel, TellsARefusedWriteAndReadsNothingAfterIt) {
    ASSERT_EQ(zmod4710_sim_refuse("WriteAO", ZMOD4710_SIM_ANY, 0, 7, 1), 0);

    const Printed run = run_drive_channel();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "zmod4710_WriteAO refused with result 7\n");
    ASSERT_EQ(zmod4710_sim_call_count(), 2);
    char last[128];
    ASSERT_EQ(zmod4710_sim_call_text(1, last, sizeof last), 0);
    EXPECT_STREQ(last, "zmod4710_WriteAO(0, 0, 4, 12) = 7 (refused on request)");
}

TEST_F(DriveChannel, SaysSoWhenNoModuleAnswers) {
    ASSERT_EQ(zmod4710_sim_remove(0), 0);

    const Printed run = run_drive_channel();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "no analog-output module on the backplane\n");
    EXPECT_EQ(zmod4710_sim_call_count(), 8);
}

} // namespace
