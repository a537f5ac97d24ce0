// The parser's stacks, as the trace tells them.
//
// Every view of the parser holds its stacks, and consecutive views differ
// only near the top, so all stacks live in one pool of entries: an entry
// holds a state, its depth, the entry below it and the symbol the trace
// named for it (lemon's traces name them), and a stack is the
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
    StackHandle below = kEmptyStack;
    uint16_t depth = 0;
    uint16_t symbol = 0;  // the trace's name for the entry's symbol; 0: none
};
static_assert(kStackDepthMax - 1 <= UINT16_MAX, "an entry's depth fits 16 bits");

// Entry 0 stands for the empty stack and is never handed out.
std::array<Entry, kStackEntriesMax + 1> entries{};
// Bit sets of entries, 64 to a word. `used`: the entries handed out and not
// collected since, and entry 0. `marks`, while collecting: the entries of the
// stacks still held. A collection makes the marked entries the used ones and
// writes nothing to the entries it frees (the pool is megabytes; a pass over
// it made the step that collects take most of a millisecond): a free entry is
// found by its clear bit when one is needed, the lowest first.
constexpr std::size_t kWordBits = 64;
constexpr std::size_t kWords = (kStackEntriesMax + 1 + kWordBits - 1) / kWordBits;
std::array<uint64_t, kWords> used{1};
std::array<uint64_t, kWords> marks{};
uint32_t marked = 0;
uint32_t freeCount = 0;  // entries below neverUsed not in use
uint32_t collections = 0;
uint32_t neverUsed = 1;  // entries from here on have not been handed out yet
// No entry below this word is free: they are taken lowest first.
std::size_t firstFreeWord = 0;

bool IsEntry(StackHandle stack) { return stack != kEmptyStack && stack <= kStackEntriesMax; }

uint64_t Bit(StackHandle entry) { return uint64_t{1} << (entry % kWordBits); }

// The lowest clear bit of a word that has one.
uint32_t LowestClearBit(uint64_t word) {
#if defined(__GNUC__)
    return static_cast<uint32_t>(__builtin_ctzll(~word));
#else
    uint32_t bit = 0;
    for (uint64_t clear = ~word; (clear & 0xFF) == 0; clear >>= 8) bit += 8;
    for (uint64_t clear = ~word >> bit; (clear & 1) == 0; clear >>= 1) ++bit;
    return bit;
#endif
}

StackHandle NewEntry(uint32_t state, uint32_t depth, StackHandle below, uint16_t symbol = 0) {
    StackHandle entry = kUnknownStack;
    if (freeCount > 0) {
        // Free entries lie below neverUsed, so the first clear bit is one.
        while (used[firstFreeWord] == ~uint64_t{0}) ++firstFreeWord;
        entry = static_cast<StackHandle>(firstFreeWord * kWordBits) +
                LowestClearBit(used[firstFreeWord]);
        --freeCount;
    } else if (neverUsed <= kStackEntriesMax) {
        entry = neverUsed++;
    } else {
        return kUnknownStack;
    }
    used[entry / kWordBits] |= Bit(entry);
    entries[entry] = Entry{state, below, static_cast<uint16_t>(depth), symbol};
    return entry;
}

bool IsMarked(StackHandle entry) { return (marks[entry / kWordBits] & Bit(entry)) != 0; }

}  // namespace

void ResetStacks() {
    ++collections;
    used.fill(0);
    used[0] = Bit(kEmptyStack);
    marks.fill(0);
    marked = 0;
    freeCount = 0;
    neverUsed = 1;
    firstFreeWord = 0;
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

uint16_t StackSymbol(StackHandle stack) { return IsEntry(stack) ? entries[stack].symbol : 0; }

uint32_t StackSymbols(StackHandle stack, std::array<uint16_t, kStackDepthMax>& symbols) {
    const uint32_t depth = StackDepth(stack);
    for (uint32_t at = depth; at-- > 0;) {
        const bool here = IsEntry(stack) && entries[stack].depth == at;
        symbols[at] = here ? entries[stack].symbol : 0;
        if (here) stack = entries[stack].below;
    }
    return depth;
}

bool StackHolds(StackHandle stack, const uint32_t* states, uint32_t count, StackHandle* held,
                uint32_t known) {
    if (!IsEntry(stack) || entries[stack].depth + 1u != count) return false;
    for (uint32_t depth = count; depth > 0; --depth) {
        const uint32_t at = depth - 1;
        if (at < known && stack == held[at]) return true;
        if (!IsEntry(stack) || entries[stack].depth != at || entries[stack].state != states[at]) {
            return false;
        }
        held[at] = stack;
        stack = entries[stack].below;
    }
    return true;
}

StackHandle StackPut(StackHandle stack, uint32_t depth, uint32_t state, uint16_t symbol) {
    if (depth >= kStackDepthMax) return kUnknownStack;
    while (IsEntry(stack) && entries[stack].depth > depth) stack = entries[stack].below;
    if (IsEntry(stack) && entries[stack].depth == depth) {
        if (entries[stack].state == state && entries[stack].symbol == symbol) return stack;
        stack = entries[stack].below;
    }
    // A stack the trace has not said enough of is not known below the entry.
    if (depth == 0) {
        stack = kEmptyStack;
    } else if (stack == kEmptyStack) {
        stack = kUnknownStack;
    }
    return NewEntry(state, depth, stack, symbol);
}

StackHandle StackPush(StackHandle stack, uint32_t state, uint16_t symbol) {
    if (stack == kUnknownStack) return kUnknownStack;
    return StackPut(stack, StackDepth(stack), state, symbol);
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

uint32_t StackCollections() { return collections; }

uint32_t StackEntriesFree() { return freeCount + (kStackEntriesMax + 1 - neverUsed); }

void MarkStack(StackHandle stack) {
    for (; IsEntry(stack) && !IsMarked(stack); stack = entries[stack].below) {
        marks[stack / kWordBits] |= Bit(stack);
        ++marked;
    }
}

void CollectStacks() {
    ++collections;
    marks[0] |= Bit(kEmptyStack);
    used = marks;
    freeCount = neverUsed - 1 - marked;
    firstFreeWord = 0;
    marks.fill(0);
    marked = 0;
}
