#include "support/hd_media.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "support/run_command.h"
#include "support/temp_dir.h"

namespace hdmedia {

namespace {

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::uint64_t fnv(const std::string& text) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// Held while a recording is made, so that test processes running at once
// make it once and the others wait for it (noise sources and encoder threads
// need not give the same bytes twice, and a test compares its output with
// the recording it read).
class MakerLock {
  public:
    explicit MakerLock(const std::filesystem::path& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (m_fd >= 0) ::flock(m_fd, LOCK_EX);
    }
    ~MakerLock() {
        if (m_fd >= 0) ::close(m_fd);  // closing releases the lock
    }
    MakerLock(const MakerLock&) = delete;
    MakerLock& operator=(const MakerLock&) = delete;

  private:
    int m_fd;
};

// The file the command writes (its "OUT"), made once per machine: a process
// that finds it made uses it, one that finds it being made waits.
std::string made(const std::string& name, const std::string& command) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("ravelo-hd-media-" + std::to_string(getuid()));
    std::filesystem::create_directories(folder);
    char hash[24];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv(command)));
    const std::filesystem::path path = folder / (name + "-" + hash + ".ts");
    if (std::filesystem::exists(path)) return path.string();
    const MakerLock lock(folder / (name + "-" + hash + ".lock"));
    if (std::filesystem::exists(path)) return path.string();
    const std::string part = path.string() + ".part" + std::to_string(getpid());
    std::string filled = command;
    filled.replace(filled.find("OUT"), 3, quote(part));
    const std::string errors = RunCommand(filled + " 2>&1");
    if (!errors.empty() || !std::filesystem::exists(part))
        throw std::runtime_error("ffmpeg could not make " + name + ": " + errors);
    std::filesystem::rename(part, path);
    return path.string();
}

const char* const kH264 =
    "ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -f lavfi "
    "-i sine=frequency=440:sample_rate=48000 -t 3 -map 0:v -map 1:a -map 1:a "
    "-c:v libx264 -preset superfast -b:v 10M -flags +ildct+ilme "
    "-x264-params interlaced=1:tff=1:keyint=24:min-keyint=24:scenecut=0:open-gop=1:bframes=3:"
    "b-adapt=0 -c:a:0 aac -b:a:0 96k -c:a:1 eac3 -b:a:1 384k -ac:a:1 6 "
    "-metadata:s:a:0 language=deu -metadata:s:a:1 language=eng -f mpegts OUT";
}  // namespace


std::string Made(const std::string& name, const std::string& command) {
    return made(name, command);
}

std::string H264Interlaced() {
    return made("h264-1080i", kH264);
}

std::string H264PlainIntra() {
    const std::string withIdr =
        made("h264-no-sei", "ffmpeg -v error -y -i " + quote(H264Interlaced()) +
                                " -map 0 -c copy -bsf:v filter_units=remove_types=6 -f mpegts OUT");
    // Its tables (the first three packets), then everything from the PES
    // packet of the second I picture on.
    std::int64_t second = -1;
    int intra = 0;
    std::istringstream frames(
        RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
            "frame=pict_type,pkt_pos -of csv=p=0 " +
            quote(withIdr) + " 2>/dev/null"));
    for (std::string line; std::getline(frames, line) && second < 0;) {
        // pkt_pos,pict_type
        const auto comma = line.find(',');
        if (comma == std::string::npos || comma == 0 || comma + 1 >= line.size()) continue;
        if (line[comma + 1] == 'I' && ++intra == 2) second = std::stoll(line.substr(0, comma));
    }
    if (second < 0) throw std::runtime_error("no second I picture in " + withIdr);
    const auto bytes = ReadFileBytes(withIdr);
    if (static_cast<std::size_t>(second) >= bytes.size()) throw std::runtime_error("bad position");
    std::vector<unsigned char> cut;
    cut.reserve(3 * 188 + bytes.size() - static_cast<std::size_t>(second));
    cut.insert(cut.end(), bytes.data(), bytes.data() + 3 * 188);
    cut.insert(cut.end(), bytes.data() + second, bytes.data() + bytes.size());
    const std::string command = "cut of " + withIdr + " at " + std::to_string(second);
    const std::filesystem::path path = std::filesystem::path(withIdr).parent_path() /
                                       ("h264-plain-intra-" + std::to_string(fnv(command)) + ".ts");
    if (!std::filesystem::exists(path)) {
        const std::string part = path.string() + ".part" + std::to_string(getpid());
        WriteFileBytes(part, cut);
        std::filesystem::rename(part, path);
    }
    return path.string();
}

std::string HevcOpenGop() {
    return made("hevc-open",
                "ffmpeg -v error -y -f lavfi -i testsrc2=size=640x360:rate=25 -f lavfi "
                "-i sine=frequency=440:sample_rate=48000 -t 3 -map 0:v -map 1:a -c:v libx265 "
                "-preset ultrafast -x265-params "
                "keyint=24:min-keyint=24:open-gop=1:bframes=3:log-level=error -c:a aac "
                "-metadata:s:a:0 language=fra -f mpegts OUT");
}

std::string HevcClosedGop10Bit() {
    return made("hevc-closed-10bit",
                "ffmpeg -v error -y -f lavfi -i testsrc2=size=640x360:rate=25 -t 3 -c:v libx265 "
                "-preset ultrafast -pix_fmt yuv420p10le -x265-params "
                "keyint=24:min-keyint=24:open-gop=0:bframes=3:radl=2:log-level=error "
                "-f mpegts OUT");
}

std::string H264WithNoise() {
    return made("h264-1080i-noise",
                "ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -f lavfi "
                "-i anoisesrc=d=8:c=pink:r=48000:a=0.3:seed=1 -t 8 -map 0:v -map 1:a -map 1:a "
                "-c:v libx264 -preset superfast -b:v 6M -flags +ildct+ilme "
                "-x264-params interlaced=1:tff=1:keyint=24:min-keyint=24:scenecut=0:open-gop=1:"
                "bframes=3:b-adapt=0 -c:a:0 aac -b:a:0 96k -c:a:1 eac3 -b:a:1 384k -ac:a:1 6 "
                "-metadata:s:a:0 language=deu -metadata:s:a:1 language=eng -f mpegts OUT");
}

std::string HevcWithNoise() {
    return made("hevc-open-noise",
                "ffmpeg -v error -y -f lavfi -i testsrc2=size=640x360:rate=25 -f lavfi "
                "-i anoisesrc=d=12:c=pink:r=48000:a=0.3:seed=2 -t 12 -map 0:v -map 1:a -map 1:a "
                "-c:v libx265 -preset ultrafast -x265-params "
                "keyint=24:min-keyint=24:open-gop=1:bframes=3:log-level=error -c:a:0 aac "
                "-b:a:0 96k -ac:a:0 2 -c:a:1 mp2 -b:a:1 192k -metadata:s:a:0 language=fra "
                "-metadata:s:a:1 language=eng -f mpegts OUT");
}

std::string HevcWithLatm() {
    const std::string adts = HevcWithNoise();
    // ffmpeg's LATM muxer packs the ADTS frames' raw data as they are; the
    // LOAS frames go in with the stamp of the first AAC frame.
    const std::string start = StreamFields(adts, "a:0")["start_time"];
    return made("hevc-open-latm",
                "d=$(mktemp -d) && ffmpeg -v error -y -i " + quote(adts) +
                    " -map 0:a:0 -c copy -f adts $d/a.aac && ffmpeg -v error -y -i $d/a.aac "
                    "-c copy -f latm $d/a.latm && ffmpeg -v error -y -copyts -i " + quote(adts) +
                    " -itsoffset " + start +
                    " -f loas -i $d/a.latm -map 0:v -map 1:a -map 0:a:1 -c copy "
                    "-metadata:s:a:0 language=fra -f mpegts OUT; rm -rf $d");
}

std::string VideoElementaryStream(const std::string& recording) {
    const std::string codec = StreamFields(recording, "v:0")["codec_name"];
    return made("es-" + codec, "ffmpeg -v error -y -i " + quote(recording) +
                                   " -map 0:v:0 -c copy -copyinkf -f " + codec + " OUT");
}

std::map<std::string, std::string> StreamFields(const std::string& path,
                                                const std::string& stream) {
    std::istringstream lines(RunCommand("ffprobe -v error -select_streams " + stream + " -show_streams " +
                                 quote(path) + " 2>/dev/null"));
    std::map<std::string, std::string> fields;
    for (std::string line; std::getline(lines, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return fields;
}

std::vector<Packet> VideoPackets(const std::string& path) {
    std::istringstream lines(
        RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
            "packet=pts,pos,flags -of csv=p=0 " +
            quote(path) + " 2>/dev/null"));
    std::vector<Packet> packets;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string pts, pos, flags;
        if (!std::getline(fields, pts, ',') || !std::getline(fields, pos, ',') ||
            !std::getline(fields, flags, ',') || pts == "N/A")
            continue;
        packets.push_back({std::stoll(pts), pos == "N/A" ? -1 : std::stoll(pos),
                           flags.find('K') != std::string::npos});
    }
    return packets;
}

std::vector<Picture> Pictures(const std::string& path) {
    std::istringstream lines(
        RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
            "frame=pts,key_frame,pict_type -of csv=p=0 " +
            quote(path) + " 2>/dev/null"));
    std::vector<Picture> pictures;
    for (std::string line; std::getline(lines, line);) {
        // key_frame,pts,pict_type
        std::istringstream fields(line);
        std::string key, pts, type;
        if (!std::getline(fields, key, ',') || !std::getline(fields, pts, ',') ||
            !std::getline(fields, type, ',') || pts.empty() || pts == "N/A")
            continue;
        pictures.push_back({std::stoll(pts), key == "1", type.empty() ? '?' : type[0]});
    }
    return pictures;
}

std::vector<double> PlanePsnr(const std::vector<unsigned char>& a,
                              const std::vector<unsigned char>& b, int width, int height) {
    const std::size_t luma = static_cast<std::size_t>(width) * height;
    const std::size_t chroma = static_cast<std::size_t>((width + 1) / 2) * ((height + 1) / 2);
    if (a.size() != luma + 2 * chroma || b.size() != a.size()) return {-1, -1, -1};
    std::vector<double> psnr;
    std::size_t from = 0;
    for (std::size_t size : {luma, chroma, chroma}) {
        double sum = 0;
        for (std::size_t i = from; i < from + size; ++i) {
            const double d = static_cast<double>(a[i]) - b[i];
            sum += d * d;
        }
        const double mse = sum / static_cast<double>(size);
        psnr.push_back(mse == 0 ? 100.0 : 10.0 * std::log10(255.0 * 255.0 / mse));
        from += size;
    }
    return psnr;
}

std::vector<unsigned char> FfmpegPicture(const std::string& recording, std::int64_t pts) {
    TempDir dir;
    const std::string out = dir.File("picture.yuv");
    RunCommand("ffmpeg -v error -y -threads 1 -copyts -i " + quote(recording) +
        " -map 0:v:0 -vf \"select='eq(pts\\," + std::to_string(pts) +
        ")'\" -vsync 0 -frames:v 1 -f rawvideo -pix_fmt yuv420p " + quote(out) + " 2>&1");
    return ReadFileBytes(out);
}

}  // namespace hdmedia
