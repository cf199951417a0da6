#pragma once
// The transformation that draws a page's image: PDF paints an image into the unit square, its first
// row at the top, and the content stream's cm matrix maps that square onto the page.
#include "imaging/params/PageGeometry.h"

#include <array>
#include <cstdint>
#include <string>

// The six numbers a b c d e f of the cm operator that show the stored image turned upright as
// orientation describes it, filling the box of width x height points whose lower-left corner is at
// (left, bottom). width and height are the upright picture's size on the page. As stored, the
// matrix is the plain scaling width 0 0 height left bottom.
std::array<std::int64_t, 6> PlacementMatrix(TImageOrientation orientation, int width, int height,
                                            std::int64_t left, std::int64_t bottom);

// The matrix as the content stream writes it: the six integers separated by single spaces.
std::string PlacementText(const std::array<std::int64_t, 6>& matrix);
