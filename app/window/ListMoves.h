#pragma once
// Where entries go when the user moves them: by dragging them to a gap between entries, or one step up
// or down from the keyboard. Several selected entries move together and keep their order. Pure index
// arithmetic, kept apart from the widgets.
#include <vector>

// The list after a move: Order[i] is the old index of the entry now at i; Selected holds the moved
// entries' new indexes, ascending.
struct TRowMove {
    std::vector<int> Order;
    std::vector<int> Selected;
    bool operator==(const TRowMove&) const = default;
};

// A gap is a place between entries: 0 before the first, count after the last. NoGap (below the last
// entry, where the list has no entries) moves nothing.
inline constexpr int NoGap = -1;

// Moves the selected entries (indexes in any order; out-of-range ones and repeats are ignored) to the
// gap, in their list order.
TRowMove MoveRowsToGap(int count, std::vector<int> selected, int gap);
// Moves every selected entry one place up (step < 0) or down (step > 0). An entry at the edge stays,
// and so does a selected entry held back by a selected neighbour that could not move.
TRowMove MoveRowsByStep(int count, std::vector<int> selected, int step);
