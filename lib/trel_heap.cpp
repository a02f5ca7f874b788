// The binary heap of front-pixel nodes.
// In: nodes with priorities. Out: the node of highest (or lowest) priority, in O(log n).
#include "lib/trel_heap.h"

#include <cassert>
#include <cstring>

namespace mendora {

TrelHeap::TrelHeap(int32_t capacity_, bool lowestFirst_)
    : lowestFirst(lowestFirst_), entries(nullptr), capacity(capacity_ > 0 ? capacity_ : 1),
      count(0) {
    entries = new TrelHeapNode*[static_cast<size_t>(capacity)];
}

TrelHeap::TrelHeap(TrelHeapNode* const* nodes, int32_t n, bool lowestFirst_)
    : lowestFirst(lowestFirst_), entries(nullptr), capacity(n > 0 ? n : 1), count(n > 0 ? n : 0) {
    entries = new TrelHeapNode*[static_cast<size_t>(capacity)];
    for (int32_t i = 0; i < count; i++) {
        entries[i] = nodes[i];
        entries[i]->position = i;
    }
    for (int32_t i = (count - 2) / 2; i >= 0; i--)
        siftDown(i);
}

TrelHeap::~TrelHeap() {
    delete[] entries;
    entries = nullptr;
    capacity = 0;
    count = 0;
}

void TrelHeap::siftUp(int32_t i) {
    TrelHeapNode* e = entries[i];
    while (i > 0) {
        int32_t p = (i - 1) / 2;
        if (!above(e->priority, entries[p]->priority))
            break;
        entries[i] = entries[p];
        entries[i]->position = i;
        i = p;
    }
    entries[i] = e;
    e->position = i;
}

void TrelHeap::siftDown(int32_t i) {
    TrelHeapNode* e = entries[i];
    int32_t child = 2 * i + 1;
    while (child < count) {
        // Equal children: the right one is taken.
        if (child + 1 < count && !above(entries[child]->priority, entries[child + 1]->priority))
            child = child + 1;
        // Equal to the moving entry: it stays above.
        if (!above(entries[child]->priority, e->priority))
            break;
        entries[i] = entries[child];
        entries[i]->position = i;
        i = child;
        child = 2 * i + 1;
    }
    entries[i] = e;
    e->position = i;
}

void TrelHeap::insert(TrelHeapNode* node) {
    if (count == capacity) {
        assert(capacity <= INT32_MAX / 2);
        TrelHeapNode** grown = new TrelHeapNode*[static_cast<size_t>(capacity) * 2];
        std::memcpy(grown, entries, sizeof(TrelHeapNode*) * static_cast<size_t>(count));
        delete[] entries;
        entries = grown;
        capacity *= 2;
    }
    entries[count] = node;
    node->position = count;
    siftUp(count);
    count++;
}

TrelHeapNode* TrelHeap::popHighest() {
    if (count == 0)
        return nullptr;
    TrelHeapNode* root = entries[0];
    entries[0] = entries[count - 1];
    entries[0]->position = 0;
    count--;
    siftDown(0);
    return root;
}

void TrelHeap::remove(TrelHeapNode* node) {
    if (count == 0)
        return;
    assert(node->position >= 0 && node->position < count && entries[node->position] == node);
    if (node->position == count - 1) {
        count--;
        return;
    }
    TrelHeapNode* moved = entries[count - 1];
    entries[node->position] = moved;
    moved->position = node->position;
    count--;
    reposition(moved);
}

void TrelHeap::reposition(TrelHeapNode* node) {
    siftUp(node->position);
    siftDown(node->position);
}

} // namespace mendora
