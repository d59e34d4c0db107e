// The access counter that guards the record inside each Python object of the
// binding. With the interpreter lock no conflict can be produced from Python,
// so the conflict rules are pinned here.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "../../src/python/borrow.hpp"

namespace vellora::py {
namespace {

TEST(BorrowFlag, SharedHoldsStackAndBlockTheExclusiveHold) {
    BorrowFlag flag;
    {
        SharedHold first(flag);
        SharedHold second(flag);
        EXPECT_EQ(flag.state(), 2);
        try {
            ExclusiveHold writer(flag);
            FAIL() << "exclusive hold granted during shared holds";
        } catch (const BorrowConflict& conflict) {
            EXPECT_STREQ(conflict.what(), "Already borrowed");
        }
        EXPECT_EQ(flag.state(), 2);
    }
    EXPECT_EQ(flag.state(), 0);
}

TEST(BorrowFlag, ExclusiveHoldRefusesReadersAndWriters) {
    BorrowFlag flag;
    {
        ExclusiveHold writer(flag);
        EXPECT_EQ(flag.state(), -1);
        try {
            SharedHold reader(flag);
            FAIL() << "shared hold granted during the exclusive hold";
        } catch (const BorrowConflict& conflict) {
            EXPECT_STREQ(conflict.what(), "Already mutably borrowed");
        }
        EXPECT_THROW(ExclusiveHold second(flag), BorrowConflict);
        EXPECT_EQ(flag.state(), -1);
    }
    EXPECT_EQ(flag.state(), 0);
    SharedHold reader(flag);
    EXPECT_EQ(flag.state(), 1);
}

TEST(BorrowFlag, ConcurrentHoldsNeverOverlapAWrite) {
    BorrowFlag flag;
    std::atomic<int> writers_inside{0};
    std::atomic<int> overlaps{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20000; ++i) {
                try {
                    if ((i + t) % 3 == 0) {
                        ExclusiveHold writer(flag);
                        if (writers_inside.fetch_add(1) != 0) overlaps.fetch_add(1);
                        writers_inside.fetch_sub(1);
                    } else {
                        SharedHold reader(flag);
                        if (writers_inside.load() != 0) overlaps.fetch_add(1);
                    }
                } catch (const BorrowConflict&) {
                    // Conflicts fail at once; nothing waits.
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(flag.state(), 0);
}

}  // namespace
}  // namespace vellora::py
