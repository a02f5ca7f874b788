// The status line's thread: a thread that cannot start leaves no status line and nothing to
// join, and the work goes on.
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>

#include "tools/standin_host/status_line.h"

namespace mendora::runner {
namespace {

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
