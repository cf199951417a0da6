#include "pdf/PdfPlacement.h"

std::array<std::int64_t, 6> PlacementMatrix(TImageOrientation orientation, int width, int height,
                                            std::int64_t left, std::int64_t bottom) {
    // Image space (u, v): u from the stored image's left edge, v up from its last row. Each case
    // sends the stored first row and first column where the orientation tag says they belong.
    const std::int64_t w = width, h = height, right = left + w, top = bottom + h;
    switch (orientation) {
    case TImageOrientation::TopRight: // mirrored left to right
        return {-w, 0, 0, h, right, bottom};
    case TImageOrientation::BottomRight: // half round
        return {-w, 0, 0, -h, right, top};
    case TImageOrientation::BottomLeft: // mirrored top to bottom
        return {w, 0, 0, -h, left, top};
    case TImageOrientation::LeftTop: // stored rows become columns, first row on the left
        return {0, -h, -w, 0, right, top};
    case TImageOrientation::RightTop: // first row on the right, first column at the top
        return {0, -h, w, 0, left, top};
    case TImageOrientation::RightBottom: // first row on the right, first column at the bottom
        return {0, h, w, 0, left, bottom};
    case TImageOrientation::LeftBottom: // first row on the left, first column at the bottom
        return {0, h, -w, 0, right, bottom};
    case TImageOrientation::TopLeft:
        break;
    }
    return {w, 0, 0, h, left, bottom};
}

std::string PlacementText(const std::array<std::int64_t, 6>& matrix) {
    std::string text;
    for (std::size_t i = 0; i < matrix.size(); ++i) {
        if (i) text += ' ';
        text += std::to_string(matrix[i]);
    }
    return text;
}
