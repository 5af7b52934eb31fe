#include "core/list.h"

#include <gtest/gtest.h>

#include <vector>

namespace kolvy {
namespace {

struct Node {
    int value;
    Node* next;
    Node* prev;
};

std::vector<int> forward(Node& head) {
    std::vector<int> out;
    for (Node* n : listRange(head))
        out.push_back(n->value);
    return out;
}

// The shape other modules rely on: first->prev is the head, last->next is null, head.prev is
// the last node.
void expectWellFormed(Node& head) {
    Node* prev = &head;
    for (Node* n = head.next; n; n = n->next) {
        ASSERT_EQ(n->prev, prev);
        prev = n;
    }
    EXPECT_EQ(head.prev, prev == &head ? nullptr : prev);
}

TEST(IntrusiveList, InsertAndUnlinkKeepTheShape) {
    Node head{};
    listAppend(head, new Node{2, nullptr, nullptr});
    listAppend(head, new Node{3, nullptr, nullptr});
    listPrepend(head, new Node{1, nullptr, nullptr});
    listInsertAfter(head, listLast(head), new Node{4, nullptr, nullptr});
    listInsertAfter(head, &head, new Node{0, nullptr, nullptr});
    EXPECT_EQ(forward(head), (std::vector<int>{0, 1, 2, 3, 4}));
    expectWellFormed(head);

    Node* last = listLast(head);
    listUnlink(head, last);
    delete last;
    Node* first = head.next;
    listUnlink(head, first);
    delete first;
    EXPECT_EQ(forward(head), (std::vector<int>{1, 2, 3}));
    expectWellFormed(head);

    EXPECT_EQ(listEraseIf(head, [](const Node& n) { return n.value != 2; }), 2u);
    EXPECT_EQ(forward(head), (std::vector<int>{2}));
    expectWellFormed(head);
    EXPECT_EQ(listSize(head), 1u);

    listFreeAll(head);
    EXPECT_TRUE(listEmpty(head));
    expectWellFormed(head);
    listAppend(head, new Node{9, nullptr, nullptr});  // usable again after emptying
    EXPECT_EQ(forward(head), (std::vector<int>{9}));
    listFreeAll(head);
}

}  // namespace
}  // namespace kolvy
