#include "mpegsnap/frame_buffer.h"

namespace mpegsnap {

void FrameBuffer::Allocate(int macroblockWidth, int macroblockHeight, int chromaFormat) {
    m_width = macroblockWidth * 16;
    m_height = macroblockHeight * 16;
    m_chromaWidth = chromaFormat == 3 ? m_width : m_width / 2;
    m_chromaHeight = chromaFormat == 1 ? m_height / 2 : m_height;
    m_planes[0].assign(static_cast<std::size_t>(m_width) * m_height, 128);
    for (int i = 1; i < 3; ++i)
        m_planes[i].assign(static_cast<std::size_t>(m_chromaWidth) * m_chromaHeight, 128);
}

PlaneView FrameBuffer::Plane(int plane, int field) const {
    PlaneView view;
    view.data = m_planes[plane].data();
    view.stride = Width(plane);
    view.width = Width(plane);
    view.height = Height(plane);
    if (field >= 0) {
        view.data += field * view.stride;
        view.stride *= 2;
        view.height /= 2;
    }
    return view;
}

}  // namespace mpegsnap
