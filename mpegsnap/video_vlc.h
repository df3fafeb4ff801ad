#pragma once
// The variable-length code tables of MPEG-1/MPEG-2 video, built once.

#include "mpegsnap/vlc_table.h"

namespace mpegsnap {

// macroblock_type flags.
enum MacroblockFlags : int {
    kMbQuant = 1,
    kMbMotionForward = 2,
    kMbMotionBackward = 4,
    kMbPattern = 8,
    kMbIntra = 16,
};

// Values of the DCT coefficient tables: run + 64 * level, or these.
constexpr int kDctEndOfBlock = -1;
constexpr int kDctEscape = -2;
constexpr int DctRun(int value) {
    return value & 63;
}
constexpr int DctLevel(int value) {
    return value >> 6;
}

// macroblock_address_increment values besides 1..33.
constexpr int kMbaEscape = 34;    // adds 33
constexpr int kMbaStuffing = 35;  // MPEG-1 macroblock stuffing

struct VideoVlc {
    VlcTable macroblockAddressIncrement;
    VlcTable macroblockTypeI;
    VlcTable macroblockTypeP;
    VlcTable macroblockTypeB;
    VlcTable codedBlockPattern;
    VlcTable motionCode;
    VlcTable dmVector;
    VlcTable dcSizeLuma;
    VlcTable dcSizeChroma;
    VlcTable dctTableZero;  // without the first-coefficient form "1s"
    VlcTable dctTableOne;

    static const VideoVlc& Get();

  private:
    VideoVlc();
};

}  // namespace mpegsnap
