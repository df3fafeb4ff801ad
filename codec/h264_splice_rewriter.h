#pragma once
// Keeps an H.264 stream decodable in display order across a splice at a
// random-access point that is no IDR picture (an I picture with a recovery
// point SEI, or a plain I picture). A decoder counts frame_num on from the
// last reference picture and derives the picture order count from the last
// pic_order_cnt_lsb: behind a splice both jump, so it would fill the
// frame_num gap with pictures of its own and could show the pictures after
// the splice before the last ones in front of it. From the splice on (up to
// the next IDR picture, which starts anew) every slice gets frame_num and
// pic_order_cnt_lsb shifted so that they continue the output: the
// random-access point follows the last reference picture, and is shown after
// every picture before it. Both are fixed-width fields of the slice header,
// so each slice keeps its size but for its emulation prevention.
//
// The leading pictures of the point are taken out by the caller; the gap
// they leave in frame_num is the source's own and stays (the memory
// management of later pictures names them by it).

#include <cstdint>
#include <limits>
#include <map>
#include <vector>

#include "codec/h264_parameter_sets.h"

namespace codec {

class H264SpliceRewriter {
  public:
    // What the first slice of an access unit says.
    struct Picture {
        bool parsed = false;  // its parameter sets were known
        bool idr = false;
        bool reference = false;
        bool field = false;
        bool bottomField = false;
        int frameNum = 0;
        int pocType = 0;
        int pocLsb = 0;
        int maxPocLsb = 0;
        int maxFrameNum = 0;
    };

    // Learns the parameter sets in the access unit and reads its first
    // slice header.
    Picture Inspect(const std::vector<std::uint8_t>& accessUnit);
    // Parameter sets that reached the output some other way (an Annex B
    // byte stream).
    void Learn(const std::uint8_t* data, std::size_t size);
    // The next access unit written begins the stretch after a splice.
    void Splice() { m_splicePending = true; }
    // Gives every slice of the access unit its shifted fields (in place) and
    // counts it as written.
    void Write(std::vector<std::uint8_t>& accessUnit, const Picture& picture);

    // Whether slices are being rewritten (a splice at a non-IDR point lies
    // behind and no IDR picture since).
    bool Shifting() const { return m_frameNumShift != 0 || m_pocShift != 0; }

  private:
    void learnNal(const std::uint8_t* nal, std::size_t size);
    void beginShift(const Picture& picture);
    std::int64_t derivePoc(int lsb, int maxLsb, std::int64_t& msb) const;
    void rewriteSlices(std::vector<std::uint8_t>& accessUnit);
    void noteWritten(const Picture& picture);

    std::map<int, h264::Sps> m_sps;
    std::map<int, h264::Pps> m_pps;
    bool m_splicePending = false;
    bool m_written = false;
    int m_frameNumShift = 0;
    int m_pocShift = 0;
    // The output as a decoder reads it: the last reference picture's
    // frame_num and picture order count, the highest count shown so far.
    int m_prevRefFrameNum = 0;
    std::int64_t m_prevPocMsb = 0;
    int m_prevPocLsb = 0;
    std::int64_t m_maxPoc = std::numeric_limits<std::int64_t>::min();
};

}  // namespace codec
