#pragma once
// Decides, access unit by access unit in decoding order, what of an H.264 or
// HEVC stream goes into an elementary-stream file when stretches of it are
// left out (cut areas, damage), and makes what goes there decodable:
//
// - Output begins and resumes only at a random-access point (H.264: IDR,
//   recovery point or plain I picture; HEVC: IRAP) whose group of pictures
//   the caller keeps; it runs to the next one.
// - After a splice (and at the start) the leading pictures of the point,
//   shown before it and referring to pictures before it, are left out:
//   H.264 pictures with a lower picture order count than the point that
//   follow it, HEVC RASL pictures. HEVC RADL pictures refer to nothing
//   before the point and stay.
// - After a splice the point gets the parameter sets it needs when it does
//   not carry them, an HEVC CRA picture becomes a BLA picture (so that a
//   decoder starts its picture order count anew and shows what it holds
//   first), and H.264 slices continue frame_num and the picture order count
//   of the output (H264SpliceRewriter).
// - A damaged unit ends its group of pictures: the pictures that follow
//   may refer to it.
// - The units taken are held back from the last I or P picture on until
//   the next one comes, and only then given out: where a B picture is
//   damaged or cut short by the end of the data, the ones held go with it.
//   (The B pictures after an I or P picture are shown before it: so the
//   pictures given out are shown without a hole.) The H.264 slices are
//   rewritten as they are given out, for the counts continue from what
//   went out.

#include <cstdint>
#include <utility>
#include <vector>

#include "codec/access_unit_assembler.h"
#include "codec/h264_splice_rewriter.h"
#include "demux/pmt_entry.h"

namespace codec {

class VideoSplicer {
  public:
    enum class Verdict {
        Write,
        BeforeStart,  // no random-access point yet
        Cut,          // in a group of pictures the caller leaves out
        Leading,      // a leading picture that cannot be shown after the splice
        Damaged,      // lost packets, here or before it in its group of pictures
        CutShort,     // the data ended inside it
    };
    struct Decision {
        Verdict verdict = Verdict::BeforeStart;
        bool randomAccess = false;  // the unit begins a group of pictures
        bool spliced = false;       // ... written after a splice (or first)
        bool leading = false;       // written, shown before its random-access point
        bool newFrame = false;      // written and not the second field of a frame
    };

    struct Released {
        AssembledUnit unit;  // its bytes as they go out
        Decision decision;
    };

    explicit VideoSplicer(StreamCodec codec) : m_codec(codec) {}

    // unit: the next access unit (taken when it goes out). keepGroup is read
    // for a random-access point: whether its group of pictures goes into the
    // output (a damaged point's group is lost to the damage where it would
    // have gone). parameterSets: those the stream has sent so far (Annex B),
    // for a point after a splice. Write means the unit is to go out.
    Decision Take(AssembledUnit& unit, bool keepGroup, const std::vector<std::uint8_t>& parameterSets);
    // The data has ended whole: what is held goes out.
    void Finish() { release(); }
    // The units to write since the last call, in order.
    std::vector<Released> TakeReleased() { return std::exchange(m_released, {}); }
    // Units that were to go out but went with damage or a cut-short end.
    int TakeDroppedHeld() { return std::exchange(m_droppedHeld, 0); }

  private:
    struct H264Leading {
        bool running = false;
        int pocLsb = 0;
        int maxPocLsb = 0;
        int frameNum = 0;
        bool field = false;
        bool bottomField = false;
        bool pairPending = false;  // the point's second field may come next
    };

    Decision startGroup(AssembledUnit& unit, bool keepGroup,
                        const std::vector<std::uint8_t>& parameterSets);
    bool isLeading(const AssembledUnit& unit, bool& decodable);
    bool h264Leading(const H264SpliceRewriter::Picture& picture);
    void insertParameterSets(AssembledUnit& unit, const std::vector<std::uint8_t>& sets) const;
    void craToBla(AssembledUnit& unit) const;
    void write(AssembledUnit& unit, Decision& decision, bool spliceBefore);
    void release();
    void dropHeld();
    void endHeld(const AssembledUnit& unit);
    bool secondField(const AccessUnit& unit);

    struct Held {
        Released out;
        H264SpliceRewriter::Picture picture;
        bool spliceBefore = false;  // the H.264 counts continue after a splice here
    };

    StreamCodec m_codec;
    bool m_inGroup = false;       // the group of pictures under way is written
    Verdict m_dropping = Verdict::BeforeStart;  // why, when it is not
    bool m_afterSplice = true;    // nothing written since the last left out
    bool m_dropLeading = false;   // the group under way follows a splice
    bool m_anyWritten = false;
    H264SpliceRewriter m_h264;
    H264SpliceRewriter::Picture m_picture;  // of the unit being taken (H.264)
    H264Leading m_leading;
    std::vector<Held> m_held;
    std::vector<Released> m_released;
    int m_droppedHeld = 0;
    // Field pairing of the units written: the last was a first field.
    bool m_firstFieldOpen = false;
    int m_firstFieldNum = 0;
    bool m_firstFieldBottom = false;
};

}  // namespace codec
