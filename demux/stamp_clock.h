#pragma once
// One stream's 33-bit time stamps on a clock that does not wrap: each stamp
// is taken as the nearest one to the last (a stamp that wrapped past 2^33
// counts forward), and the first is placed against a reference stamp that
// the streams of a programme share (the first stamp any of them saw), so
// that all of them count on one clock.

#include <cstdint>
#include <string>

#include "demux/pes_fields.h"
#include "shell/text.h"

// The stamp that stands for 0 on the clocks that share it.
struct StampReference {
    bool set = false;
    std::uint64_t stamp = 0;
};

class CStampClock {
  public:
    explicit CStampClock(StampReference& reference) : m_reference(&reference) {}

    std::int64_t Unwrap(std::uint64_t stamp) {
        if (!m_reference->set) *m_reference = {true, stamp};
        if (!m_started) {
            m_started = true;
            m_last = pes::Diff33(m_reference->stamp, stamp);
        } else {
            m_last += pes::Diff33(m_lastStamp, stamp);
        }
        m_lastStamp = stamp;
        return m_last;
    }

  private:
    StampReference* m_reference;
    bool m_started = false;
    std::uint64_t m_lastStamp = 0;
    std::int64_t m_last = 0;
};

// A time on such a clock as the log shows it, H:MM:SS,mmm (times before the
// reference as 0).
inline std::string ClockText(std::int64_t ticks) {
    const std::int64_t ms = (ticks < 0 ? 0 : ticks) / 90;
    return FormatString("%d:%02d:%02d,%03d", static_cast<int>(ms / 3600000),
                        static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                        static_cast<int>(ms % 1000));
}
