// Intrusive doubly linked lists of the shared records.
//
// Records that other modules, the search plug-in and sibling tools walk by pointer (tabs, index
// items, accounts, rules, server entries) carry their own `next` and `prev` fields and hang behind
// a sentinel head node of the same type:
//   - head.next is the first record; the last record's next is null;
//   - the first record's prev is &head, so unlinking never needs to know whether it is first;
//   - head.prev caches the last record (null when the list is empty) so appending stays O(1);
//     walkers that go forward never look at it.
// Nodes are allocated with new and owned by the list: listFreeAll deletes them.
#pragma once

#include <cstddef>
#include <memory>

namespace kolvy {

template <class T>
bool listEmpty(const T& head) {
    return head.next == nullptr;
}

template <class T>
T* listLast(T& head) {
    return head.prev;
}

template <class T>
void listAppend(T& head, T* node) {
    T* last = head.prev ? head.prev : &head;
    node->prev = last;
    node->next = nullptr;
    last->next = node;
    head.prev = node;
}

template <class T>
void listPrepend(T& head, T* node) {
    node->prev = &head;
    node->next = head.next;
    if (head.next) {
        head.next->prev = node;
    } else {
        head.prev = node;
    }
    head.next = node;
}

// Inserts node directly after pos (pos may be &head).
template <class T>
void listInsertAfter(T& head, T* pos, T* node) {
    if (pos == &head) {
        listPrepend(head, node);
        return;
    }
    node->prev = pos;
    node->next = pos->next;
    if (pos->next) {
        pos->next->prev = node;
    } else {
        head.prev = node;
    }
    pos->next = node;
}

// Takes node out of the list without freeing it.
template <class T>
void listUnlink(T& head, T* node) {
    node->prev->next = node->next;
    if (node->next) {
        node->next->prev = node->prev;
    } else {
        head.prev = node->prev == &head ? nullptr : node->prev;
    }
    node->next = nullptr;
    node->prev = nullptr;
}

template <class T>
size_t listSize(const T& head) {
    size_t n = 0;
    for (const T* p = head.next; p; p = p->next)
        ++n;
    return n;
}

template <class T>
void listFreeAll(T& head) {
    T* p = head.next;
    while (p) {
        T* next = p->next;
        delete p;
        p = next;
    }
    head.next = nullptr;
    head.prev = nullptr;
}

// Range-for over a list: for (Tab* t : listRange(tabs)).
template <class T>
class ListRange {
  public:
    explicit ListRange(T& head) : head_(head) {}
    class iterator {
      public:
        explicit iterator(T* p) : p_(p) {}
        T* operator*() const { return p_; }
        iterator& operator++() {
            p_ = p_->next;
            return *this;
        }
        bool operator!=(const iterator& o) const { return p_ != o.p_; }

      private:
        T* p_;
    };
    iterator begin() const { return iterator(head_.next); }
    iterator end() const { return iterator(nullptr); }

  private:
    T& head_;
};
template <class T>
ListRange<T> listRange(T& head) {
    return ListRange<T>(head);
}

// Unlinks and deletes every node for which pred is true; returns how many went.
template <class T, class Pred>
size_t listEraseIf(T& head, Pred pred) {
    size_t n = 0;
    T* p = head.next;
    while (p) {
        T* next = p->next;
        if (pred(*p)) {
            listUnlink(head, p);
            delete p;
            ++n;
        }
        p = next;
    }
    return n;
}

}  // namespace kolvy
