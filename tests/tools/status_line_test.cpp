// What our hosts show of a fill: the status line's text, the progress lines and the time
// left; and a status line whose thread cannot start leaves nothing to join, the work going on.
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>

#include "host/host_hooks.h"
#include "tools/standin_host/status_line.h"

namespace mendora::runner {
namespace {

ProgressSnapshot at(int32_t stage, int64_t done, int64_t total, double seconds,
                    double fillingSeconds = 0.0) {
    return ProgressSnapshot{stage, done, total, seconds, fillingSeconds};
}

TEST(StatusLine, PercentReachesOneHundredOnlyAtTheEnd) {
    EXPECT_EQ(percentDone(at(MENDORA_STAGE_FILLING, 0, 0, 1)), 0);
    EXPECT_EQ(percentDone(at(MENDORA_STAGE_FILLING, 37, 100, 1)), 37);
    EXPECT_EQ(percentDone(at(MENDORA_STAGE_FILLING, 99999, 100000, 1)), 99);
    EXPECT_EQ(percentDone(at(MENDORA_STAGE_FILLING, 100000, 100000, 1)), 100);
}

TEST(StatusLine, TimeLeftComesFromTheFillingRateOnceItIsKnown) {
    // 25 of 100 pixels in 10 s of filling: 75 more at 2.5 a second.
    EXPECT_DOUBLE_EQ(secondsLeft(at(MENDORA_STAGE_FILLING, 25, 100, 14, 10)), 30.0);
    EXPECT_DOUBLE_EQ(secondsLeft(at(MENDORA_STAGE_FILLING, 100, 100, 14, 10)), 0.0);
    EXPECT_LT(secondsLeft(at(MENDORA_STAGE_FILLING, 0, 100, 14, 10)), 0.0);
    EXPECT_LT(secondsLeft(at(MENDORA_STAGE_FILLING, 25, 100, 4.5, 0.5)), 0.0) << "first second";
    EXPECT_LT(secondsLeft(at(MENDORA_STAGE_DESCRIBING, 25, 100, 14, 0)), 0.0);
}

TEST(StatusLine, TextsNameTheStagePercentTimeAndTimeLeft) {
    EXPECT_EQ(statusText(at(MENDORA_STAGE_FILLING, 37, 100, 12.2, 10)),
              "filling 37 % \u00b7 12 s \u00b7 about 17 s left");
    EXPECT_EQ(statusText(at(MENDORA_STAGE_FILLING, 1, 100, 0.4, 0.1)), "filling 1 % \u00b7 0 s");
    EXPECT_EQ(statusText(at(MENDORA_STAGE_FILLING, 10, 100, 130, 125)),
              "filling 10 % \u00b7 2 min 10 s \u00b7 about 18 min 45 s left");
    EXPECT_EQ(statusText(at(MENDORA_STAGE_DESCRIBING, 40, 100, 2.0)),
              "describing the candidate windows 40 % \u00b7 2 s");
    EXPECT_EQ(statusText(at(MENDORA_STAGE_INDEXING, 0, 1, 3.4)), "building the index \u00b7 3 s");
    EXPECT_EQ(statusText(at(MENDORA_STAGE_PREPARING, 0, 1, 0.2)), "preparing \u00b7 0 s");

    EXPECT_EQ(progressLine(at(MENDORA_STAGE_FILLING, 25, 100, 14, 10)),
              "progress stage=filling done=25 total=100 percent=25 seconds=14.0 left=30.0");
    EXPECT_EQ(progressLine(at(MENDORA_STAGE_DESCRIBING, 5, 10, 0.25)),
              "progress stage=describing done=5 total=10 percent=50 seconds=0.2");
    EXPECT_EQ(progressLine(at(MENDORA_STAGE_INDEXING, 1, 1, 3)),
              "progress stage=indexing done=1 total=1 percent=100 seconds=3.0");
}

TEST(StatusLine, ThreadThatCannotStartLeavesNothingToJoin) {
    // Every new thread asks for a stack larger than any address space: pthread_create fails
    // as it does when the process is out of memory or threads.
    pthread_attr_t original;
    ASSERT_EQ(pthread_getattr_default_np(&original), 0);
    pthread_attr_t huge;
    ASSERT_EQ(pthread_attr_init(&huge), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&huge, size_t{1} << 62), 0);
    ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
    EXPECT_NO_THROW(startStatusLine("filling"));
    EXPECT_NO_THROW(stopStatusLine());
    ASSERT_EQ(pthread_setattr_default_np(&original), 0);
    pthread_attr_destroy(&huge);
    pthread_attr_destroy(&original);
    // A thread that can start shows the line again.
    EXPECT_NO_THROW(startStatusLine("filling"));
    EXPECT_NO_THROW(stopStatusLine());
}

} // namespace
} // namespace mendora::runner
