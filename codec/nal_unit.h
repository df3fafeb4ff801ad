#pragma once
// NAL unit headers of H.264 (one byte) and HEVC (two bytes), and what the
// unit types mean for finding pictures and random-access points.

#include <cstddef>
#include <cstdint>

namespace codec {

// What parsing one syntax structure gave.
enum class ParseResult {
    Ok,
    Broken,       // lengths or values outside what the syntax allows, or the data ended
    Unsupported,  // valid, but a form this reader does not handle (e.g. a reserved profile)
};

namespace h264 {
// nal_unit_type (ITU-T H.264 table 7-1).
enum NalType : int {
    kSlice = 1,
    kSliceDataA = 2,
    kIdrSlice = 5,
    kSei = 6,
    kSps = 7,
    kPps = 8,
    kAud = 9,
    kEndOfSequence = 10,
    kEndOfStream = 11,
    kFiller = 12,
    kSpsExtension = 13,
    kPrefix = 14,
    kSubsetSps = 15,
};
inline int NalType(std::uint8_t header) {
    return header & 0x1F;
}
inline int NalRefIdc(std::uint8_t header) {
    return (header >> 5) & 3;
}
// Units that may start an access unit before its first slice (7.4.1.2.3).
inline bool StartsAccessUnit(int type) {
    return type == kAud || type == kSps || type == kPps || type == kSei ||
           (type >= kPrefix && type <= 18);
}
inline bool IsSlice(int type) {
    return type == kSlice || type == kSliceDataA || type == kIdrSlice;
}
constexpr std::size_t kHeaderSize = 1;
}  // namespace h264

namespace hevc {
// nal_unit_type (ITU-T H.265 table 7-1).
enum NalType : int {
    kTrailN = 0,
    kRadlN = 6,
    kRadlR = 7,
    kRaslN = 8,
    kRaslR = 9,
    kBlaWLp = 16,
    kBlaWRadl = 17,
    kBlaNLp = 18,
    kIdrWRadl = 19,
    kIdrNLp = 20,
    kCraNut = 21,
    kVps = 32,
    kSps = 33,
    kPps = 34,
    kAud = 35,
    kEos = 36,
    kEob = 37,
    kFd = 38,
    kPrefixSei = 39,
    kSuffixSei = 40,
};
inline int NalType(const std::uint8_t* header) {
    return (header[0] >> 1) & 0x3F;
}
inline int LayerId(const std::uint8_t* header) {
    return ((header[0] & 1) << 5) | (header[1] >> 3);
}
inline bool IsVcl(int type) {
    return type < 32;
}
// Intra random-access points: BLA, IDR, CRA (and the two reserved IRAP types).
inline bool IsIrap(int type) {
    return type >= kBlaWLp && type <= 23;
}
inline bool IsIdr(int type) {
    return type == kIdrWRadl || type == kIdrNLp;
}
inline bool IsRasl(int type) {
    return type == kRaslN || type == kRaslR;
}
inline bool IsRadl(int type) {
    return type == kRadlN || type == kRadlR;
}
// Units that may start an access unit before its first slice (7.4.2.4.4).
inline bool StartsAccessUnit(int type) {
    return type == kAud || type == kVps || type == kSps || type == kPps || type == kPrefixSei ||
           (type >= 41 && type <= 44) || (type >= 48 && type <= 55);
}
constexpr std::size_t kHeaderSize = 2;
}  // namespace hevc

}  // namespace codec
