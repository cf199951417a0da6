#include "app/window/ListMoves.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace {
std::vector<char> SelectionMask(int count, const std::vector<int>& selected) {
    std::vector<char> mask(std::max(count, 0), 0);
    for (int row : selected)
        if (row >= 0 && row < count) mask[row] = 1;
    return mask;
}

std::vector<int> SelectedRows(const std::vector<char>& mask) {
    std::vector<int> rows;
    for (std::size_t i = 0; i < mask.size(); ++i)
        if (mask[i]) rows.push_back(static_cast<int>(i));
    return rows;
}
} // namespace

TRowMove MoveRowsToGap(int count, std::vector<int> selected, int gap) {
    const std::vector<char> mask = SelectionMask(count, selected);
    TRowMove move;
    if (gap < 0 || gap > count) {
        move.Order.resize(mask.size());
        std::iota(move.Order.begin(), move.Order.end(), 0);
        move.Selected = SelectedRows(mask);
        return move;
    }
    std::vector<int> moved;
    for (int i = 0; i < count; ++i) (mask[i] ? moved : move.Order).push_back(i);
    // The gap counted every entry; the moved ones leave the places before it.
    const int before = static_cast<int>(std::count(mask.begin(), mask.begin() + gap, 0));
    move.Order.insert(move.Order.begin() + before, moved.begin(), moved.end());
    for (std::size_t k = 0; k < moved.size(); ++k) move.Selected.push_back(before + static_cast<int>(k));
    return move;
}

TRowMove MoveRowsByStep(int count, std::vector<int> selected, int step) {
    std::vector<char> mask = SelectionMask(count, selected);
    TRowMove move;
    move.Order.resize(mask.size());
    std::iota(move.Order.begin(), move.Order.end(), 0);
    const auto swap = [&](int a, int b) {
        std::swap(move.Order[a], move.Order[b]);
        std::swap(mask[a], mask[b]);
    };
    // Walking towards the move lets a block of selected entries follow its leader.
    if (step < 0) {
        for (int i = 1; i < count; ++i)
            if (mask[i] && !mask[i - 1]) swap(i, i - 1);
    } else if (step > 0) {
        for (int i = count - 2; i >= 0; --i)
            if (mask[i] && !mask[i + 1]) swap(i, i + 1);
    }
    move.Selected = SelectedRows(mask);
    return move;
}
