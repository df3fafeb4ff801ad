#pragma once
// Access units of an HEVC elementary stream (ITU-T H.265 7.4.2.4.4): where
// each picture begins, whether it is an intra random-access point (IDR, CRA,
// BLA) and whether it leads one (RASL, which refers to pictures before the
// point, or RADL, which does not). Parameter sets are kept by id, bytes and
// all, for a decoder that starts at a random-access point.

#include <map>
#include <optional>
#include <vector>

#include "codec/access_unit.h"
#include "codec/hevc_parameter_sets.h"
#include "codec/start_code_scanner.h"

namespace codec {

class HevcAccessUnitScanner : public StartCodeScanner {
  public:
    std::optional<VideoFormat> Format() const override;
    std::vector<std::uint8_t> ParameterSets() const override;

  private:
    struct SliceStart {
        bool firstInPicture = false;
        bool parsed = false;  // its parameter sets were known
        int pictureType = 0;
        int spsId = -1;
    };

    void onUnit(const StartCodeUnit& unit) override;
    void onParameterSet(int type, const StartCodeUnit& unit);
    void onSlice(int type, const StartCodeUnit& unit);
    SliceStart readSliceStart(int type, const StartCodeUnit& unit) const;

    std::map<int, hevc::Vps> m_vps;
    std::map<int, hevc::Sps> m_sps;
    std::map<int, hevc::Pps> m_pps;
    std::map<int, std::vector<std::uint8_t>> m_vpsBytes, m_spsBytes, m_ppsBytes;
    int m_activeSps = -1;
};

}  // namespace codec
