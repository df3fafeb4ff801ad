#pragma once
// One reconstructed frame: three 8-bit planes sized to whole macroblocks.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mpegsnap {

// A plane, or one field of it (every second line).
struct PlaneView {
    std::uint8_t* data = nullptr;
    std::ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;
};

class FrameBuffer {
  public:
    // Sizes in macroblocks; chromaFormat 1, 2 or 3. The planes start mid-grey,
    // which is what a picture predicted from a missing reference shows.
    void Allocate(int macroblockWidth, int macroblockHeight, int chromaFormat);

    // Plane 0 luma, 1 Cb, 2 Cr; field -1 for the frame, 0 top, 1 bottom.
    PlaneView Plane(int plane, int field = -1) const;

    int Width(int plane) const { return plane == 0 ? m_width : m_chromaWidth; }
    int Height(int plane) const { return plane == 0 ? m_height : m_chromaHeight; }

  private:
    int m_width = 0;
    int m_height = 0;
    int m_chromaWidth = 0;
    int m_chromaHeight = 0;
    // mutable: views into a const reference frame are read only by the
    // motion compensation, which never writes through them.
    mutable std::vector<std::uint8_t> m_planes[3];
};

}  // namespace mpegsnap
