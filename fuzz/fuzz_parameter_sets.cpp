// The parameter-set and slice-header parsers of H.264 and HEVC on
// arbitrary NAL payloads (emulation prevention included): a set taken as
// whole has a picture of positive size, and a slice header reads only the
// sets it names.

#include <cstdint>
#include <map>
#include <vector>

#include "codec/h264_parameter_sets.h"
#include "codec/h264_slice_header.h"
#include "codec/hevc_parameter_sets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly the bytes given, so that any read past them is seen.
    const std::vector<std::uint8_t> nal(data, data + size);
    codec::h264::Sps sps;
    if (codec::h264::ParseSps(nal.data(), nal.size(), sps) == codec::ParseResult::Ok) {
        const codec::VideoFormat f = sps.Format();
        if (f.width <= 0 || f.height <= 0) __builtin_trap();
        // A slice of this stream, behind the set: its header reads through
        // the set's sizes of frame_num and POC.
        const std::map<int, codec::h264::Sps> spsById = {{sps.id, sps}};
        const std::map<int, codec::h264::Pps> ppsById = {{0, {0, sps.id}}};
        codec::h264::SliceHeader slice;
        codec::h264::ParseSliceHeader(nal.data(), nal.size(), ppsById, spsById, slice);
    }
    codec::h264::Pps pps;
    codec::h264::ParsePps(nal.data(), nal.size(), pps);
    codec::hevc::Sps hevc;
    if (codec::hevc::ParseSps(nal.data(), nal.size(), hevc) == codec::ParseResult::Ok) {
        const codec::VideoFormat f = hevc.Format(nullptr);
        if (f.width <= 0 || f.height <= 0) __builtin_trap();
    }
    codec::hevc::Vps vps;
    codec::hevc::ParseVps(nal.data(), nal.size(), vps);
    codec::hevc::Pps hevcPps;
    codec::hevc::ParsePps(nal.data(), nal.size(), hevcPps);
    return 0;
}
