// Small generic containers of the link layer: the stack that keeps the records of the serial
// port's asynchronous operations still running.
#pragma once

#include "common/Errors.h"

// Misuse of a generic container (popping an empty stack).
class EGenericAlg : public Exception {
public:
    using Exception::Exception;
};

class TGenericStruct {
public:
    virtual ~TGenericStruct() = default;
    virtual bool IsEmpty() const = 0;
};

// A stack of untyped pointers. It owns its nodes, never the items: whoever pushes an item
// releases it after popping it.
class TStack : public TGenericStruct {
public:
    TStack() = default;
    ~TStack() override;
    TStack(const TStack&) = delete;
    TStack& operator=(const TStack&) = delete;

    void Push(void* Item);
    // Raises EGenericAlg "Stack is empty" when there is nothing to pop.
    void* Pop();
    bool IsEmpty() const override;

private:
    struct TNode {
        void* Item;
        TNode* Next;
    };
    TNode* FTop = nullptr;
};
