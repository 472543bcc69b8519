// The stack of untyped pointers that holds the serial port's pending records.
#include "link/GenAlg.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

TEST(TStack, PopsTheMostRecentItemFirst) {
    TStack stack;
    int a = 1, b = 2, c = 3;
    EXPECT_TRUE(stack.IsEmpty());
    stack.Push(&a);
    stack.Push(&b);
    stack.Push(&c);
    EXPECT_FALSE(stack.IsEmpty());
    EXPECT_EQ(stack.Pop(), &c);
    EXPECT_EQ(stack.Pop(), &b);
    stack.Push(nullptr); // a null item is an item like any other
    EXPECT_EQ(stack.Pop(), nullptr);
    EXPECT_EQ(stack.Pop(), &a);
    EXPECT_TRUE(stack.IsEmpty());
}

TEST(TStack, PopOnAnEmptyStackRaisesStackIsEmpty) {
    TStack stack;
    try {
        stack.Pop();
        FAIL() << "Pop on an empty stack returned";
    } catch (const EGenericAlg& e) {
        EXPECT_STREQ(e.what(), "Stack is empty");
    }
    // EGenericAlg is a general error.
    EXPECT_THROW(stack.Pop(), Exception);
    int item = 5;
    stack.Push(&item);
    stack.Pop();
    EXPECT_THROW(stack.Pop(), EGenericAlg);
}

// The serial port drops a stack with operations still on it when it closes. Under the sanitizer
// build (make test-asan) a node left behind fails this test as a leak, and an item the stack
// freed fails it as a use after free when the item is read afterwards.
TEST(TStack, DestroyedWhileHoldingItemsFreesItsNodesButNeverTheItems) {
    std::vector<std::unique_ptr<int>> items;
    {
        TStack stack;
        for (int i = 0; i < 100; ++i) {
            items.push_back(std::make_unique<int>(i));
            stack.Push(items.back().get());
        }
        EXPECT_EQ(stack.Pop(), items.back().get());
        const TGenericStruct& base = stack;
        EXPECT_FALSE(base.IsEmpty());
    }
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(*items[static_cast<std::size_t>(i)], i);
}
