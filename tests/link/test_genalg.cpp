// The stack of untyped pointers that holds the serial port's pending records.
#include "link/GenAlg.h"

#include <gtest/gtest.h>

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

TEST(TStack, FreesItsNodesButNeverTheItems) {
    int items[100] = {};
    {
        TStack stack;
        for (int& item : items)
            stack.Push(&item);
        const TGenericStruct& base = stack;
        EXPECT_FALSE(base.IsEmpty());
    } // the leak checker sees any node left behind; the items (on the stack frame) must not be freed
    items[99] = 7;
    EXPECT_EQ(items[99], 7);
}
