// TrelHeapNode and TrelHeap: the priority node of a front pixel and the binary heap that
// orders the nodes, with positions kept in the nodes so that remove and reposition need no
// search.
#pragma once

#include <cstdint>

#include "lib/trel_object.h"

namespace mendora {

class TrelHeapNode : public TrelObject {
  public:
    TrelHeapNode() = default;
    virtual ~TrelHeapNode() = default;

    int32_t position = 0; // index of the node's entry while it is queued
    int32_t x = 0;        // column of the pixel
    int32_t y = 0;        // row of the pixel
    double priority = 0.0;
};

// A binary heap of node references in one array: entry 0 is the root and the children of
// entry i are 2i + 1 and 2i + 2. With lowestFirst false the highest priority is at the root.
// The heap does not own the nodes. Invariant: entries[node->position] == node for every
// queued node.
//
// Ties: an entry moves up only past strictly lower parents and moves down only below strictly
// higher children, preferring the right child when both children are equal. The pop order
// among equal priorities therefore depends only on the order of the operations.
class TrelHeap {
  public:
    // Allocates room for `capacity` entries (at least one); throws std::bad_alloc.
    TrelHeap(int32_t capacity, bool lowestFirst);
    // Copies `n` nodes in order, sets their positions and builds the heap order bottom-up.
    TrelHeap(TrelHeapNode* const* nodes, int32_t n, bool lowestFirst);
    virtual ~TrelHeap();
    TrelHeap(const TrelHeap&) = delete;
    TrelHeap& operator=(const TrelHeap&) = delete;

    bool isEmpty() const { return count == 0; }
    bool isFull() const { return count == capacity; }
    int32_t size() const { return count; }
    TrelHeapNode* entryAt(int32_t index) const { return entries[index]; }
    // The root without removing it; null when empty.
    TrelHeapNode* top() const { return count == 0 ? nullptr : entries[0]; }
    bool isLowestFirst() const { return lowestFirst; }
    void setLowestFirst(bool value) { lowestFirst = value; }

    // Adds `node`; doubles the array first when it is full (throws std::bad_alloc if that
    // allocation fails, leaving the heap unchanged).
    void insert(TrelHeapNode* node);
    // Removes and returns the root; null when the heap is empty.
    TrelHeapNode* popHighest();
    // Takes a queued node out of the heap; does nothing when the heap is empty.
    void remove(TrelHeapNode* node);
    // Restores the heap order after the priority of a queued node changed.
    void reposition(TrelHeapNode* node);

  private:
    // True when priority a must stand above priority b (strictly).
    bool above(double a, double b) const { return lowestFirst ? a < b : a > b; }
    void siftUp(int32_t i);
    void siftDown(int32_t i);

    bool lowestFirst;
    TrelHeapNode** entries;
    int32_t capacity;
    int32_t count;
};

} // namespace mendora
