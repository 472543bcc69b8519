// The singly linked stack of untyped pointers.
#include "link/GenAlg.h"

TStack::~TStack() {
    while (FTop != nullptr) {
        TNode* node = FTop;
        FTop = node->Next;
        delete node;
    }
}

void TStack::Push(void* Item) {
    FTop = new TNode{Item, FTop};
}

void* TStack::Pop() {
    if (FTop == nullptr)
        throw EGenericAlg("Stack is empty");
    TNode* node = FTop;
    void* item = node->Item;
    FTop = node->Next;
    delete node;
    return item;
}

bool TStack::IsEmpty() const {
    return FTop == nullptr;
}
