#pragma once
// Both windows are described in twips, as their layouts were drawn: 15
// twips make one pixel (96 dots per inch), rounded to the nearest.

namespace zuk {

constexpr int twipsToPixels(int twips)
{
    return (twips + 7) / 15;
}

}  // namespace zuk
