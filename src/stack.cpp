// The parser's stacks, as the trace tells them.
//
// Every view of the parser holds its stacks, and consecutive views differ
// only near the top, so all stacks live in one pool of entries: an entry
// holds a state, its depth and the entry below it, and a stack is the
// handle of its top entry. Stacks that share their bottom share its entries,
// so a view costs one handle per stack however deep the stack is.
//
// Entries are never freed one by one: when the pool runs low, the owner of
// the views marks every stack still held and the rest is collected.
#include <array>

#include "kwt.h"

namespace {

struct Entry {
    uint32_t state = 0;
    uint32_t depth = 0;
    StackHandle below = kEmptyStack;  // also links the free entries
};

// Entry 0 stands for the empty stack and is never handed out.
std::array<Entry, kStackEntriesMax + 1> entries{};
std::array<uint8_t, (kStackEntriesMax + 1 + 7) / 8> marks{};
StackHandle freeList = kEmptyStack;
uint32_t freeCount = 0;
uint32_t neverUsed = 1;  // entries from here on have not been handed out yet

bool IsEntry(StackHandle stack) { return stack != kEmptyStack && stack <= kStackEntriesMax; }

StackHandle NewEntry(uint32_t state, uint32_t depth, StackHandle below) {
    StackHandle entry = kUnknownStack;
    if (freeList != kEmptyStack) {
        entry = freeList;
        freeList = entries[entry].below;
        --freeCount;
    } else if (neverUsed <= kStackEntriesMax) {
        entry = neverUsed++;
    } else {
        return kUnknownStack;
    }
    entries[entry] = Entry{state, depth, below};
    return entry;
}

bool IsMarked(StackHandle entry) { return (marks[entry / 8] & (1u << (entry % 8))) != 0; }

}  // namespace

void ResetStacks() {
    freeList = kEmptyStack;
    freeCount = 0;
    neverUsed = 1;
    marks.fill(0);
}

uint32_t StackDepth(StackHandle stack) {
    if (!IsEntry(stack)) return 0;
    return entries[stack].depth + 1;
}

uint32_t StackState(StackHandle stack) {
    return IsEntry(stack) ? entries[stack].state : kUnknownEntry;
}

uint32_t StackEntryDepth(StackHandle stack) { return IsEntry(stack) ? entries[stack].depth : 0; }

StackHandle StackBelow(StackHandle stack) {
    return IsEntry(stack) ? entries[stack].below : kEmptyStack;
}

StackHandle StackPut(StackHandle stack, uint32_t depth, uint32_t state) {
    if (depth >= kStackDepthMax) return kUnknownStack;
    while (IsEntry(stack) && entries[stack].depth > depth) stack = entries[stack].below;
    if (IsEntry(stack) && entries[stack].depth == depth) {
        if (entries[stack].state == state) return stack;
        stack = entries[stack].below;
    }
    // A stack the trace has not said enough of is not known below the entry.
    if (depth == 0) {
        stack = kEmptyStack;
    } else if (stack == kEmptyStack) {
        stack = kUnknownStack;
    }
    return NewEntry(state, depth, stack);
}

StackHandle StackPush(StackHandle stack, uint32_t state) {
    if (stack == kUnknownStack) return kUnknownStack;
    return StackPut(stack, StackDepth(stack), state);
}

StackHandle StackPop(StackHandle stack, uint32_t count) {
    const uint32_t depth = StackDepth(stack);
    if (stack == kUnknownStack || count > depth) return kUnknownStack;
    // The entries at depths below `keep` stay. Where the new top lies in a gap
    // the trace left, an entry of no known state stands for it, so that the
    // stack keeps its depth.
    const uint32_t keep = depth - count;
    while (IsEntry(stack) && entries[stack].depth >= keep) stack = entries[stack].below;
    if (keep > 0 && StackDepth(stack) < keep) return NewEntry(kUnknownEntry, keep - 1, stack);
    return stack;
}

uint32_t StackEntriesFree() { return freeCount + (kStackEntriesMax + 1 - neverUsed); }

void MarkStack(StackHandle stack) {
    for (; IsEntry(stack) && !IsMarked(stack); stack = entries[stack].below) {
        marks[stack / 8] = static_cast<uint8_t>(marks[stack / 8] | (1u << (stack % 8)));
    }
}

void CollectStacks() {
    freeList = kEmptyStack;
    freeCount = 0;
    for (StackHandle entry = neverUsed - 1; entry > 0; --entry) {
        if (IsMarked(entry)) continue;
        entries[entry].below = freeList;
        freeList = entry;
        ++freeCount;
    }
    marks.fill(0);
}
