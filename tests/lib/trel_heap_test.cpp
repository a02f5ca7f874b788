// TrelHeap: the heap property and the position invariant after randomised operations, and
// the tie rules that decide the pop order among equal priorities.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "lib/trel_heap.h"

namespace mendora {
namespace {

// Every parent at least as high as its children, and entries[i]->position == i.
::testing::AssertionResult heapInvariantHolds(const TrelHeap& heap) {
    for (int32_t i = 0; i < heap.size(); i++) {
        if (heap.entryAt(i)->position != i)
            return ::testing::AssertionFailure()
                   << "entry " << i << " records position " << heap.entryAt(i)->position;
        if (i > 0 && heap.entryAt((i - 1) / 2)->priority < heap.entryAt(i)->priority)
            return ::testing::AssertionFailure() << "entry " << i << " above its parent";
    }
    return ::testing::AssertionSuccess();
}

std::vector<std::unique_ptr<TrelHeapNode>> makeNodes(const std::vector<double>& priorities) {
    std::vector<std::unique_ptr<TrelHeapNode>> nodes;
    for (size_t i = 0; i < priorities.size(); i++) {
        nodes.push_back(std::make_unique<TrelHeapNode>());
        nodes.back()->x = static_cast<int32_t>(i);
        nodes.back()->priority = priorities[i];
    }
    return nodes;
}

TEST(TrelHeap, KeepsInvariantUnderRandomOperations) {
    std::mt19937 random(7);
    // Few distinct priorities, so that ties are frequent.
    std::uniform_int_distribution<int> priority(0, 9);
    std::vector<std::unique_ptr<TrelHeapNode>> nodes;
    std::vector<TrelHeapNode*> queued;
    TrelHeap heap(4, false); // small capacity: growth happens several times
    for (int op = 0; op < 5000; op++) {
        const int kind = static_cast<int>(random() % 4);
        if (kind == 0 || queued.empty()) {
            nodes.push_back(std::make_unique<TrelHeapNode>());
            nodes.back()->priority = priority(random);
            heap.insert(nodes.back().get());
            queued.push_back(nodes.back().get());
        } else if (kind == 1) {
            double highest = -1;
            for (TrelHeapNode* n : queued)
                highest = std::max(highest, n->priority);
            TrelHeapNode* popped = heap.popHighest();
            ASSERT_EQ(popped->priority, highest);
            queued.erase(std::find(queued.begin(), queued.end(), popped));
        } else if (kind == 2) {
            TrelHeapNode* victim = queued[random() % queued.size()];
            heap.remove(victim);
            queued.erase(std::find(queued.begin(), queued.end(), victim));
        } else {
            TrelHeapNode* changed = queued[random() % queued.size()];
            changed->priority = priority(random);
            heap.reposition(changed);
        }
        ASSERT_EQ(heap.size(), static_cast<int32_t>(queued.size()));
        ASSERT_TRUE(heapInvariantHolds(heap)) << "after operation " << op;
    }
}

TEST(TrelHeap, EmptyAndLastEntryRules) {
    TrelHeap heap(2, false);
    EXPECT_TRUE(heap.isEmpty());
    EXPECT_EQ(heap.popHighest(), nullptr);
    auto nodes = makeNodes({1.0, 3.0, 2.0});
    heap.remove(nodes[0].get()); // empty: nothing happens
    EXPECT_TRUE(heap.isEmpty());

    // 1.0, then 3.0 rises above it, then 2.0 stays below 3.0: entries 3.0, 1.0, 2.0.
    for (auto& n : nodes)
        heap.insert(n.get());
    ASSERT_EQ(heap.entryAt(2), nodes[2].get());
    // Removing the entry in the last position only shortens the heap.
    heap.remove(nodes[2].get());
    EXPECT_EQ(heap.size(), 2);
    EXPECT_EQ(heap.entryAt(0), nodes[1].get());
    EXPECT_EQ(heap.entryAt(1), nodes[0].get());
    EXPECT_EQ(heap.popHighest(), nodes[1].get());
    EXPECT_EQ(heap.popHighest(), nodes[0].get());
    EXPECT_TRUE(heap.isEmpty());
    EXPECT_EQ(heap.popHighest(), nullptr);
}

// Equal priorities: an entry rises only past strictly lower parents and sinks only below
// strictly higher children, taking the right child when the two are equal.
TEST(TrelHeap, TiesFollowInsertionAndSiftRules) {
    auto nodes = makeNodes({5, 5, 5, 5, 5});
    TrelHeap heap(8, false);
    for (auto& n : nodes)
        heap.insert(n.get());
    // Nothing moved on insertion: entry i is node i.
    for (int32_t i = 0; i < 5; i++)
        EXPECT_EQ(heap.entryAt(i)->x, i);
    // Pop: node 4 moves to the root; its children 1 and 2 are equal to it, so it stays.
    EXPECT_EQ(heap.popHighest()->x, 0);
    EXPECT_EQ(heap.entryAt(0)->x, 4);
    EXPECT_EQ(heap.popHighest()->x, 4);
    // Node 3 moves to the root, children 1 and 2 equal to it: it stays again.
    EXPECT_EQ(heap.popHighest()->x, 3);
    EXPECT_EQ(heap.popHighest()->x, 2);
    EXPECT_EQ(heap.popHighest()->x, 1);

    // A lowered root sinks, and takes the right child when both children are equal.
    auto more = makeNodes({7, 7, 7});
    TrelHeap other(3, false);
    for (auto& n : more)
        other.insert(n.get());
    more[0]->priority = 0;
    other.reposition(more[0].get());
    EXPECT_EQ(other.entryAt(0), more[2].get());
    EXPECT_EQ(other.entryAt(1), more[1].get());
    EXPECT_EQ(other.entryAt(2), more[0].get());
}

TEST(TrelHeap, BuildsFromArrayAndServesLowestFirst) {
    auto nodes = makeNodes({4, 9, 1, 7, 3, 8});
    std::vector<TrelHeapNode*> raw;
    for (auto& n : nodes)
        raw.push_back(n.get());
    TrelHeap highest(raw.data(), 6, false);
    EXPECT_TRUE(heapInvariantHolds(highest));
    EXPECT_TRUE(highest.isFull());
    std::vector<double> order;
    while (!highest.isEmpty())
        order.push_back(highest.popHighest()->priority);
    EXPECT_EQ(order, (std::vector<double>{9, 8, 7, 4, 3, 1}));

    TrelHeap lowest(6, true);
    for (TrelHeapNode* n : raw)
        lowest.insert(n);
    order.clear();
    while (!lowest.isEmpty())
        order.push_back(lowest.popHighest()->priority);
    EXPECT_EQ(order, (std::vector<double>{1, 3, 4, 7, 8, 9}));
}

} // namespace
} // namespace mendora
