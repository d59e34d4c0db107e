// The access counter guarding the record inside each Python object of the
// binding. With the interpreter lock no conflict can be produced from Python,
// so the conflict rules are pinned here.
#include <gtest/gtest.h>

#include <string>

#include "../../src/python/borrow.hpp"

namespace vellora::py {
namespace {

template <class Hold>
std::string conflict(BorrowFlag& flag) {
    try {
        Hold hold(flag);
    } catch (const BorrowConflict& error) {
        return error.what();
    }
    return "granted";
}

TEST(BorrowFlag, SharedHoldsStackAndRefuseTheWriter) {
    BorrowFlag flag;
    {
        SharedHold first(flag);
        SharedHold second(flag);
        EXPECT_EQ(flag.state(), 2);
        EXPECT_EQ(conflict<ExclusiveHold>(flag), "Already borrowed");
        EXPECT_EQ(flag.state(), 2);
    }
    EXPECT_EQ(conflict<ExclusiveHold>(flag), "granted");
    EXPECT_EQ(flag.state(), 0);
}

TEST(BorrowFlag, ExclusiveHoldRefusesReadersAndWriters) {
    BorrowFlag flag;
    {
        ExclusiveHold writer(flag);
        EXPECT_EQ(conflict<SharedHold>(flag), "Already mutably borrowed");
        EXPECT_EQ(conflict<ExclusiveHold>(flag), "Already borrowed");
        EXPECT_EQ(flag.state(), -1);
    }
    EXPECT_EQ(conflict<SharedHold>(flag), "granted");
    EXPECT_EQ(flag.state(), 0);
}

}  // namespace
}  // namespace vellora::py
