#pragma once
// Access units of an H.264 elementary stream (ITU-T H.264 7.4.1.2): where
// each picture begins, its random-access kind (IDR, I picture with a
// recovery point SEI, or a plain I picture in a stream that marks neither),
// its field parity and whether it leads its random-access point. Parameter
// sets are kept by id, bytes and all, for a decoder that starts at a
// random-access point.

#include <map>
#include <optional>
#include <vector>

#include "codec/access_unit.h"
#include "codec/h264_parameter_sets.h"
#include "codec/h264_slice_header.h"
#include "codec/start_code_scanner.h"

namespace codec {

class H264AccessUnitScanner : public StartCodeScanner {
  public:
    // Plain I pictures count as random-access points: for streams without
    // IDR pictures and recovery point SEI.
    void SetIntraIsRandomAccess(bool intra) { m_intraIsRandomAccess = intra; }
    // An IDR picture or a recovery point SEI was seen.
    bool SawRandomAccessMarks() const { return m_sawMarks; }

    std::optional<VideoFormat> Format() const override;
    std::vector<std::uint8_t> ParameterSets() const override;

  private:
    void onUnit(const StartCodeUnit& unit) override;
    void onSlice(const StartCodeUnit& unit);
    void startH264AccessUnit(std::uint64_t offset);
    bool startsNewPicture(const h264::SliceHeader& slice) const;
    void reportPicture(const h264::SliceHeader& slice, bool parsed, bool complete);
    bool isLeading(const h264::SliceHeader& slice);

    std::map<int, h264::Sps> m_sps;
    std::map<int, h264::Pps> m_pps;
    std::map<int, std::vector<std::uint8_t>> m_spsBytes;
    std::map<int, std::vector<std::uint8_t>> m_ppsBytes;
    int m_activeSps = -1;  // of the last picture

    // The access unit under way: a recovery point SEI came in it.
    bool m_recoveryPoint = false;
    std::optional<h264::SliceHeader> m_lastSlice;

    // Display order after the last random-access point (POC type 0).
    bool m_intraIsRandomAccess = false;
    bool m_sawMarks = false;
    bool m_inLeadingRun = false;
    int m_rapPocLsb = 0;
    int m_rapMaxPocLsb = 16;
};

}  // namespace codec
