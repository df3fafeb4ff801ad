// The cut editor's navigation: seek buttons, wheel, and the steps they take.
#include "app/qt/navigation_steps.h"
#include "app/qt/ravelo_doc.h"
#include "app/qt/ravelo_view.h"
#include "platform/key_state.h"

namespace {
std::uint32_t g_lastSmallStep = 192;  // sectors; the small steps keep theirs here
}

std::uint32_t CRaveloView::LastSmallStep() {
    return g_lastSmallStep;
}
void CRaveloView::SetLastSmallStep(std::uint32_t step) {
    g_lastSmallStep = step;
}

void CRaveloView::OnSeek(int controlId, int repeatCount) {
    switch (controlId) {
        case kSmallBack:
            SmallStepBackward(repeatCount);
            break;
        case kSmallForward:
            SmallStepForward(repeatCount);
            break;
        case kLargeBack:
            LargeStepBackward(repeatCount);
            break;
        case kLargeForward:
            LargeStepForward(repeatCount);
            break;
        default:
            break;
    }
}

void CRaveloView::SmallStepBackward(std::int64_t n) {
    const bool ctrl = platform::KeyState().IsCtrlDown();
    const std::uint64_t step =
        nav::SmallBackwardStep(n, ctrl, m_doc.Model().m_bitRate, g_lastSmallStep);
    m_position = m_position > step ? m_position - step : 0;
    // Back off until a picture other than the one shown turns up. The search
    // runs forward from the position, so each retry starts further back; at
    // least one sector, so a tiny bit rate cannot make this loop forever.
    while (!ShowSnapshot(false) && m_position != 0) {
        const std::uint64_t back = std::max<std::uint64_t>(g_lastSmallStep / 2, 1);
        m_position = m_position >= back ? m_position - back : 0;
    }
    MoveSlider();
}

void CRaveloView::SmallStepForward(std::int64_t n) {
    const bool ctrl = platform::KeyState().IsCtrlDown();
    m_position += nav::SmallForwardStep(n, ctrl, m_doc.Model().m_bitRate, g_lastSmallStep);
    const std::uint64_t last = m_total > 0 ? m_total - 1 : 0;
    while (!ShowSnapshot(false) && m_position < last)
        m_position += nav::kForwardNudge;
    MoveSlider();
}

void CRaveloView::LargeStepBackward(std::int64_t n) {
    m_position = nav::LargeBackwardTarget(m_position, n, platform::KeyState().IsCtrlDown());
    MoveSlider();
    ShowSnapshot(false);
}

void CRaveloView::LargeStepForward(std::int64_t n) {
    m_position = nav::LargeForwardTarget(m_position, n, platform::KeyState().IsCtrlDown(), m_total);
    MoveSlider();
    ShowSnapshot(false);
}

void CRaveloView::WheelStep(int delta) {
    const bool ctrl = platform::KeyState().IsCtrlDown();
    const bool shift = platform::KeyState().IsShiftDown();
    if (!ctrl && !shift) {
        if (delta > 0)
            SmallStepBackward(1);
        else if (delta < 0)
            SmallStepForward(1);
        return;
    }
    m_position = nav::WheelTarget(m_position, delta, shift, m_doc.Model().m_bitRate, m_total);
    MoveSlider();
    ShowSnapshot(false);
}
