#pragma once
// Access units of an MPEG-2 (or MPEG-1) video elementary stream: one per
// picture, beginning at the sequence or GOP header before it when there is
// one. A sequence header with an I picture is a random-access point; the B
// pictures right behind such an I picture that are shown before it lead it
// (decodable without what came before when their GOP is closed).

#include <optional>

#include "codec/access_unit.h"
#include "codec/start_code_scanner.h"

namespace codec {

class Mpeg2AccessUnitScanner : public StartCodeScanner {
  public:
    std::optional<VideoFormat> Format() const override { return m_format; }

  private:
    void onUnit(const StartCodeUnit& unit) override;
    void onPicture(const StartCodeUnit& unit);

    std::optional<VideoFormat> m_format;
    bool m_unitHasSequence = false;
    bool m_closedGop = false;
    bool m_brokenLink = false;
    bool m_expectExtension = false;  // the sequence extension follows its header

    bool m_inLeadingRun = false;
    bool m_runDecodable = false;
    int m_rapTemporalReference = 0;
};

// The format a sequence header (and the sequence extension behind it) give:
// header points at the 00 00 01 B3 start code, size bytes of it held.
std::optional<VideoFormat> Mpeg2FormatOf(const std::uint8_t* header, std::size_t size);

}  // namespace codec
