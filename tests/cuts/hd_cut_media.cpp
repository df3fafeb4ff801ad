#include "hd_cut_media.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "media_oracle.h"
#include "support/hd_media.h"

namespace hdcut {

namespace {
const char* const kGop =
    "keyint=24:min-keyint=24:scenecut=0:open-gop=1:bframes=3:b-adapt=0:b-pyramid=normal";
}  // namespace

std::string H264Recording() {
    return hdmedia::Made(
        "cut-h264-1080i",
        std::string("ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -f lavfi "
                    "-i sine=frequency=440:sample_rate=48000 -t 6 -map 0:v -map 1:a -map 1:a "
                    "-c:v libx264 -preset superfast -b:v 6M -flags +ildct+ilme -x264-params "
                    "interlaced=1:tff=1:") +
            kGop +
            " -c:a:0 aac -b:a:0 96k -c:a:1 eac3 -b:a:1 384k -ac:a:1 6 -metadata:s:a:0 "
            "language=deu -metadata:s:a:1 language=eng -f mpegts OUT");
}

std::string H264SetsOnceRecording() {
    // With global headers ffmpeg's multiplexer puts the parameter sets in
    // front of IDR pictures only.
    return hdmedia::Made(
        "cut-h264-sets-once",
        std::string("ffmpeg -v error -y -f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi "
                    "-i sine=frequency=440:sample_rate=48000 -t 6 -map 0:v -map 1:a -c:v libx264 "
                    "-preset superfast -b:v 4M -flags +ildct+ilme+global_header -x264-params "
                    "interlaced=1:tff=1:") +
            kGop + " -c:a aac -f mpegts OUT");
}

std::string HevcRecording() {
    return hdmedia::Made(
        "cut-hevc-720p",
        "ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 -f lavfi "
        "-i sine=frequency=440:sample_rate=48000 -t 6 -map 0:v -map 1:a -map 1:a -c:v libx265 "
        "-preset ultrafast -b:v 3M -x265-params "
        "keyint=24:min-keyint=24:open-gop=1:bframes=3:log-level=error -c:a:0 aac -c:a:1 eac3 "
        "-ac:a:1 6 -f mpegts OUT");
}

std::vector<TestArea> TwoAreas(const std::vector<VideoPacket>& packets) {
    std::vector<std::uint64_t> keys;
    for (const VideoPacket& packet : packets)
        if (packet.key) keys.push_back(packet.pos);
    if (keys.size() < 7) return {};
    return {{keys[1] + 20000, keys[3] + 20000}, {keys[4] + 20000, keys[5] + 20000}};
}

std::vector<AudioPacket> AudioPackets(const std::string& path, const std::string& stream) {
    std::istringstream lines(RunCommand("ffprobe -v error -select_streams " + stream +
                                        " -show_entries packet=pts,data_hash -show_data_hash MD5 "
                                        "-of csv=p=0 '" + path + "' 2>/dev/null"));
    // ffprobe may break a packet's line after its stamp: the fields are
    // taken in order, each hash going with the stamp before it.
    std::vector<AudioPacket> packets;
    std::string field;
    bool stamped = false;
    std::int64_t pts = 0;
    while (std::getline(lines, field, ',')) {
        std::istringstream parts(field);
        for (std::string token; std::getline(parts, token);) {
            if (token.rfind("MD5:", 0) == 0 && stamped) {
                packets.push_back({pts, token});
                stamped = false;
            } else if (!token.empty() && (std::isdigit(static_cast<unsigned char>(token[0])) ||
                                          token[0] == '-')) {
                pts = std::stoll(token);
                stamped = true;
            }
        }
    }
    std::sort(packets.begin(), packets.end());
    return packets;
}

int NalUnitsOfType(const std::string& path, int type) {
    const std::string out =
        RunCommand("ffmpeg -i '" + path + "' -map 0:v:0 -c copy -bsf:v trace_headers -f null - 2>&1");
    std::istringstream lines(out);
    int count = 0;
    bool packets = false;  // what comes before the first packet is the stream's extradata
    for (std::string line; std::getline(lines, line);) {
        packets = packets || line.find("Packet:") != std::string::npos;
        if (!packets || line.find(" nal_unit_type ") == std::string::npos) continue;
        const auto eq = line.rfind("= ");
        if (eq != std::string::npos && std::stoi(line.substr(eq + 2)) == type) ++count;
    }
    return count;
}

}  // namespace hdcut
