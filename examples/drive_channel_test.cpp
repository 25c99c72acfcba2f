// drive_channel's test cases (drive_channel_cases.h) under GoogleTest: one test
// for each row of the table, whose checks are GoogleTest's.
#include <gtest/gtest.h>

#include <string>

#define CHECK_INT(got, wanted) EXPECT_EQ(got, wanted)
#define CHECK_TEXT(got, wanted) EXPECT_STREQ(got, wanted)

#include "drive_channel_cases.h"

namespace {

class DriveChannel : public testing::TestWithParam<drive_channel_case> {
protected:
    void SetUp() override {
        ASSERT_EQ(zmod4710_sim_use_memory(), 0);
        ASSERT_EQ(zmod4710_sim_reset(), 0);
    }
};

TEST_P(DriveChannel, Case) {
    GetParam().run();
}

INSTANTIATE_TEST_SUITE_P(Cases, DriveChannel, testing::ValuesIn(drive_channel_cases),
                         [](const testing::TestParamInfo<drive_channel_case> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
