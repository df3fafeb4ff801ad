// The audio frame splitter of every codec an HD recording carries, on an
// arbitrary stream whose PES starts, stamps and losses the input chooses
// (the first bytes), then LATM rewritten as ADTS and silent AAC frames made
// like the frames cut: every frame is as long as its header says, every
// ADTS frame made reads back as one of its own length.

#include <cstdint>
#include <vector>

#include "codec/audio_frame_splitter.h"
#include "codec/latm_to_adts.h"
#include "codec/silent_adts_frame.h"

namespace {

void checkAdts(const std::vector<std::uint8_t>& frame) {
    codec::AudioFrameInfo info;
    if (!codec::ReadAudioFrame(StreamCodec::Aac, frame.data(), static_cast<int>(frame.size()), info) ||
        info.bytes != static_cast<int>(frame.size()))
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::size_t piece = 1 + data[0] % 190;
    const std::uint8_t events = data[1];
    const std::uint8_t* stream = data + 2;
    const std::size_t n = size - 2;
    for (StreamCodec codec : {StreamCodec::MpegAudio, StreamCodec::Ac3, StreamCodec::Eac3,
                              StreamCodec::Aac, StreamCodec::AacLatm}) {
        codec::AudioFrameSplitter splitter(codec);
        codec::LatmToAdts latm;
        std::vector<codec::AudioFrameSplitter::Frame> frames;
        for (std::size_t at = 0, k = 0; at < n; at += piece, ++k) {
            // The event bits say which pieces begin a PES and which follow a loss.
            if ((events >> (k % 8)) & 1) splitter.StartPes(k % 3 != 0, at * 90);
            if (k % 11 == 10 && (events & 0x80)) splitter.Lose();
            splitter.Feed(stream + at, std::min(piece, n - at));
            for (auto& f : splitter.TakeFrames()) frames.push_back(std::move(f));
        }
        splitter.Finish();
        for (auto& f : splitter.TakeFrames()) frames.push_back(std::move(f));
        for (const auto& f : frames) {
            if (f.info.bytes != static_cast<int>(f.bytes.size())) __builtin_trap();
            if (codec == StreamCodec::Aac) {
                const std::vector<std::uint8_t> silent =
                    codec::SilentAdtsFrame(f.bytes.data(), static_cast<int>(f.bytes.size()));
                if (!silent.empty()) checkAdts(silent);
            }
            if (codec != StreamCodec::AacLatm) continue;
            std::vector<codec::LatmToAdts::Frame> adts;
            if (!latm.Convert(f.bytes.data(), static_cast<int>(f.bytes.size()), adts, nullptr)) continue;
            for (const auto& a : adts) checkAdts(a.bytes);
        }
    }
    return 0;
}
