#include "engine/nal_picture_list.h"

#include <algorithm>
#include <map>
#include <memory>

#include "codec/h264_access_unit_scanner.h"
#include "codec/h264_parameter_sets.h"
#include "codec/hevc_access_unit_scanner.h"
#include "codec/nal_unit.h"
#include "codec/start_code_splitter.h"
#include "engine/video_payload_window.h"

namespace {

struct NalRecord {
    std::uint64_t offset = 0;  // of its 00 00 01 prefix, in the stream fed
    int type = -1;
    bool setSps = false, setPps = false, setVps = false;
    bool slice = false;
    bool sliceRead = false;
    codec::h264::SliceHeader header;
    codec::h264::SliceNumbering numbering;
};

// The NAL units of the stream with what they are; H.264 slice headers are
// read with the parameter sets seen before them.
class NalWalk {
  public:
    explicit NalWalk(StreamCodec codec) : m_codec(codec) {}

    void Unit(const codec::StartCodeUnit& unit) {
        if (unit.size < 2 || (unit.data[0] & 0x80) != 0) return;
        NalRecord nal;
        nal.offset = unit.offset;
        if (m_codec == StreamCodec::Hevc) {
            if (codec::hevc::LayerId(unit.data) != 0) return;
            nal.type = codec::hevc::NalType(unit.data);
            nal.setVps = nal.type == codec::hevc::kVps;
            nal.setSps = nal.type == codec::hevc::kSps;
            nal.setPps = nal.type == codec::hevc::kPps;
            nal.slice = codec::hevc::IsVcl(nal.type);
        } else {
            nal.type = codec::h264::NalType(unit.data[0]);
            nal.setSps = nal.type == codec::h264::kSps;
            nal.setPps = nal.type == codec::h264::kPps;
            nal.slice = codec::h264::IsSlice(nal.type);
            h264(unit, nal);
        }
        m_nals.push_back(nal);
    }
    const std::vector<NalRecord>& Nals() const { return m_nals; }

  private:
    void h264(const codec::StartCodeUnit& unit, NalRecord& nal) {
        using namespace codec::h264;
        const std::uint8_t* rbsp = unit.data + kHeaderSize;
        const std::size_t size = unit.size - kHeaderSize;
        if (nal.setSps) {
            Sps sps;
            if (ParseSps(rbsp, size, sps) == codec::ParseResult::Ok) m_sps[sps.id] = sps;
        } else if (nal.setPps) {
            Pps pps;
            if (ParsePps(rbsp, size, pps) == codec::ParseResult::Ok) m_pps[pps.id] = pps;
        } else if (nal.slice) {
            nal.sliceRead = ParseSliceHeader(unit.data, unit.size, m_pps, m_sps, nal.header) ==
                            codec::ParseResult::Ok;
            if (nal.sliceRead) nal.numbering = SliceNumbering::Of(m_sps.at(nal.header.spsId));
        }
    }

    StreamCodec m_codec;
    std::vector<NalRecord> m_nals;
    std::map<int, codec::h264::Sps> m_sps;
    std::map<int, codec::h264::Pps> m_pps;
};

std::unique_ptr<codec::IAccessUnitScanner> newScanner(StreamCodec codec, bool intra) {
    if (codec == StreamCodec::Hevc) return std::make_unique<codec::HevcAccessUnitScanner>();
    auto scanner = std::make_unique<codec::H264AccessUnitScanner>();
    scanner->SetIntraIsRandomAccess(intra);
    return scanner;
}

bool isDelimiter(StreamCodec codec, int type) {
    return codec == StreamCodec::Hevc ? type == codec::hevc::kAud : type == codec::h264::kAud;
}

}  // namespace

CNalPictureList::CNalPictureList(StreamCodec codec, bool intraIsRandomAccess)
    : m_codec(codec), m_intraIsRandomAccess(intraIsRandomAccess) {}

std::vector<std::uint8_t> CNalPictureList::SetsBefore(const CVideoPayloadWindow& window,
                                                      std::size_t offset,
                                                      const std::vector<std::uint8_t>& primer) const {
    std::unique_ptr<codec::IAccessUnitScanner> scanner = newScanner(m_codec, m_intraIsRandomAccess);
    scanner->Feed(primer.data(), primer.size());
    scanner->Feed(window.Data(), std::min(offset, window.Size()));
    // A parameter set that ends right at the offset is complete.
    scanner->Finish();
    return scanner->ParameterSets();
}

std::vector<NalPicture> CNalPictureList::Build(const CVideoPayloadWindow& window,
                                               const std::vector<std::uint8_t>& primer) const {
    std::unique_ptr<codec::IAccessUnitScanner> scanner = newScanner(m_codec, m_intraIsRandomAccess);
    NalWalk walk(m_codec);
    codec::StartCodeSplitter splitter([&walk](const codec::StartCodeUnit& unit) { walk.Unit(unit); });
    for (const auto& [data, size] : {std::pair{primer.data(), primer.size()},
                                     std::pair{window.Data(), window.Size()}}) {
        scanner->Feed(data, size);
        splitter.Feed(data, size);
    }
    scanner->Finish();
    splitter.Finish();

    const std::uint64_t shift = primer.size();
    std::vector<NalPicture> pictures;
    for (const codec::AccessUnit& unit : scanner->TakeUnits()) {
        if (unit.offset < shift) continue;  // the primer holds no pictures
        NalPicture picture;
        picture.unit = unit;
        picture.offset = static_cast<std::size_t>(unit.offset - shift);
        picture.packet = window.FindVideoPacketBack(picture.offset);
        pictures.push_back(picture);
    }
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        NalPicture& picture = pictures[i];
        picture.end = i + 1 < pictures.size() ? pictures[i + 1].offset : window.Size();
        const std::size_t previous = i > 0 ? pictures[i - 1].offset : 0;
        const CVideoPayloadWindow::PesHeader* pes = window.PesHeaderOf(picture.offset);
        if (pes != nullptr && pes->hasPts && (i == 0 || pes->esIndex > previous)) {
            picture.hasPts = true;
            picture.pts = pes->pts;
        }
    }

    // The NAL units of each picture.
    bool sps = false, pps = false, vps = false;
    bool delimiterOpen = false;  // the picture's delimiter awaits the unit after it
    std::size_t at = 0;
    for (const NalRecord& nal : walk.Nals()) {
        if (nal.offset < shift) continue;
        const auto offset = static_cast<std::size_t>(nal.offset - shift);
        while (at < pictures.size() && pictures[at].end <= offset) {
            if (delimiterOpen) pictures[at].delimiterEnd = pictures[at].end;
            delimiterOpen = false;
            ++at;
        }
        if (at >= pictures.size()) break;
        NalPicture& picture = pictures[at];
        if (offset < picture.offset) continue;  // before the first picture
        if (offset == picture.offset) {
            sps = pps = vps = false;
            delimiterOpen = isDelimiter(m_codec, nal.type);
        } else if (delimiterOpen) {
            picture.delimiterEnd = offset;
            delimiterOpen = false;
        }
        sps = sps || nal.setSps;
        pps = pps || nal.setPps;
        vps = vps || nal.setVps;
        if (!nal.slice) continue;
        if (picture.slices.empty()) {
            picture.carriesSets = sps && pps && (m_codec != StreamCodec::Hevc || vps);
            picture.nalType = nal.type;
            picture.sliceRead = nal.sliceRead;
            picture.slice = nal.header;
            picture.numbering = nal.numbering;
        }
        picture.slices.push_back(offset + 3);
    }
    if (delimiterOpen && at < pictures.size()) pictures[at].delimiterEnd = pictures[at].end;
    return pictures;
}
