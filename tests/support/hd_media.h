#pragma once
// HD test recordings made with ffmpeg (libx264, libx265, the AAC and E-AC-3
// encoders), and ffmpeg/ffprobe as oracles for them. Each recording is made
// once per machine and kept below the temporary folder under a name derived
// from the command that makes it, so the many test processes share it.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace hdmedia {

// 1920x1080 interlaced (top field first), 25 pictures per second, 3 s; open
// GOPs of 24 pictures whose I pictures carry a recovery point SEI (the first
// is an IDR picture) and are led by three B pictures; AAC "deu" (mono) and
// E-AC-3 5.1 "eng" beside it.
std::string H264Interlaced();
// The same video with every SEI removed, from its second I picture on (its
// first was an IDR picture): a stream that marks no random-access point.
std::string H264PlainIntra();
// 640x360 progressive HEVC, 3 s: a CRA picture every 24 pictures with RASL
// pictures behind it; AAC "fra".
std::string HevcOpenGop();
// 640x360 HEVC, 10 bits, IDR pictures with RADL pictures behind them.
std::string HevcClosedGop10Bit();

// Recordings whose sound is noise, so that no two audio frames are alike
// and each frame of an output names its source time (the sync meter):
// the video of H264Interlaced for 8 s with AAC (ADTS) "deu" and E-AC-3 5.1
// "eng" beside it ...
std::string H264WithNoise();
// ... 640x360 HEVC for 12 s, a CRA picture every 24 pictures with RASL
// pictures behind it, with AAC (ADTS) "fra" and MP2 "eng" ...
std::string HevcWithNoise();
// ... and the same with its AAC frames carried in LATM, as DVB sends AAC
// (stream type 0x11, LOAS frames), the video, the MP2 track and every
// stamp as in HevcWithNoise (all moved by the same amount).
std::string HevcWithLatm();
// A recording made by an ffmpeg command whose output is written "OUT", once
// per machine like the ones above; name starts its file name.
std::string Made(const std::string& name, const std::string& command);

// The video elementary stream of a recording, as ffmpeg copies it out.
std::string VideoElementaryStream(const std::string& recording);

// ffprobe's fields of one stream ("v:0", "a:1"), by name.
std::map<std::string, std::string> StreamFields(const std::string& path, const std::string& stream);

struct Packet {
    std::int64_t pts = 0;
    std::int64_t pos = 0;
    bool key = false;
};
// The packets (pictures) of the first video stream in stream order.
std::vector<Packet> VideoPackets(const std::string& path);

struct Picture {
    std::int64_t pts = 0;
    bool key = false;
    char type = '?';  // I, P, B
};
// The decoded pictures of the first video stream in presentation order.
std::vector<Picture> Pictures(const std::string& path);

// The PSNR of each plane (Y, Cb, Cr) of two raw 4:2:0 pictures, 8 bits;
// 100 for identical planes, -1 when the sizes differ.
std::vector<double> PlanePsnr(const std::vector<unsigned char>& a,
                              const std::vector<unsigned char>& b, int width, int height);
// ffmpeg's decode (one thread) of the picture with this stamp, as 8-bit
// 4:2:0 planes; empty when there is no such picture.
std::vector<unsigned char> FfmpegPicture(const std::string& recording, std::int64_t pts);

}  // namespace hdmedia
