#include "platform/exclusive_lock.h"

#include <gtest/gtest.h>

#include "platform/error_codes.h"
#include "platform/last_error.h"
#include "tests/support/child_process.h"

using testing_support::ScratchFolder;

TEST(ExclusiveLockTest, SecondHolderIsRefusedUntilTheFirstLetsGo) {
  ScratchFolder dir("lock");
  platform::ExclusiveLock first, second;
  ASSERT_TRUE(first.Acquire(dir / "run.lock"));
  EXPECT_FALSE(second.Acquire(dir / "run.lock"));
  EXPECT_EQ(platform::GetLastError(), platform::kErrorRunInProgress);
  first.Release();
  EXPECT_TRUE(second.Acquire(dir / "run.lock"));
}
