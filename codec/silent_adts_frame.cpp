#include "codec/silent_adts_frame.h"

#include "demux/bit_packer.h"

namespace codec {

namespace {

constexpr int kHeaderBytes = 7;
// id_syn_ele values.
constexpr int kSce = 0;
constexpr int kCpe = 1;
constexpr int kLfe = 3;
constexpr int kEnd = 7;

// individual_channel_stream without common window: global_gain, ics_info of
// an ONLY_LONG_SEQUENCE with max_sfb 0 (so no section, scale factor or
// spectral data), and no pulse, TNS or gain control data.
void silentChannelStream(BitPacker& w) {
    w.Put(0, 8);  // global_gain
    w.Put(0, 1);  // ics_reserved_bit
    w.Put(0, 2);  // window_sequence: ONLY_LONG_SEQUENCE
    w.Put(0, 1);  // window_shape
    w.Put(0, 6);  // max_sfb
    w.Put(0, 1);  // predictor_data_present
    w.Put(0, 3);  // pulse_data_present, tns_data_present, gain_control_data_present
}

void element(BitPacker& w, int type, int tag) {
    w.Put(static_cast<std::uint32_t>(type), 3);
    w.Put(static_cast<std::uint32_t>(tag), 4);
    if (type == kCpe) {
        w.Put(0, 1);  // common_window
        silentChannelStream(w);
    }
    silentChannelStream(w);
}

}  // namespace

std::vector<std::uint8_t> SilentAdtsFrame(const std::uint8_t* adts, int n) {
    if (n < kHeaderBytes || adts[0] != 0xFF || (adts[1] & 0xF6) != 0xF0) return {};
    const int channels = ((adts[2] & 1) << 2) | (adts[3] >> 6);
    // The channel elements of configurations 1..7, tags counted per element kind.
    static const std::vector<std::vector<int>> kElements = {
        {},
        {kSce},
        {kCpe},
        {kSce, kCpe},
        {kSce, kCpe, kSce},
        {kSce, kCpe, kCpe},
        {kSce, kCpe, kCpe, kLfe},
        {kSce, kCpe, kCpe, kCpe, kLfe},
    };
    if (channels < 1 || channels > 7) return {};
    std::vector<std::uint8_t> frame(adts, adts + kHeaderBytes);
    frame[1] |= 0x01;                               // protection_absent: no CRC
    frame[6] = static_cast<std::uint8_t>(frame[6] & 0xFC);  // one raw data block
    BitPacker w(frame);
    int tags[8] = {};
    for (int type : kElements[static_cast<std::size_t>(channels)]) element(w, type, tags[type]++);
    w.Put(kEnd, 3);
    const auto length = static_cast<int>(frame.size());
    frame[3] = static_cast<std::uint8_t>((frame[3] & 0xFC) | (length >> 11));
    frame[4] = static_cast<std::uint8_t>(length >> 3);
    frame[5] = static_cast<std::uint8_t>(((length & 7) << 5) | (frame[5] & 0x1F));
    return frame;
}

}  // namespace codec
