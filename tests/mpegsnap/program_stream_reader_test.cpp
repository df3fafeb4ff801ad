// Extraction of the video elementary stream from hand-built program-stream
// packets.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "mpegsnap/program_stream_reader.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes mpeg2Pack(int stuffing) {
    Bytes pack = {0, 0, 1, 0xBA, 0x44, 0,    4,
                  0, 4, 1, 0x01, 0x89, 0xC3, static_cast<std::uint8_t>(0xF8 | stuffing)};
    pack.insert(pack.end(), static_cast<std::size_t>(stuffing), 0xFF);
    return pack;
}

Bytes mpeg1Pack() {
    return {0, 0, 1, 0xBA, 0x21, 0, 1, 0, 1, 0x80, 0x1B, 0x83};
}

// A packet with the given header bytes (after the length) and payload.
Bytes packet(int id, const Bytes& header, const Bytes& payload) {
    const std::size_t length = header.size() + payload.size();
    Bytes out = {0,
                 0,
                 1,
                 static_cast<std::uint8_t>(id),
                 static_cast<std::uint8_t>(length >> 8),
                 static_cast<std::uint8_t>(length)};
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

const Bytes kMpeg2PesWithPts = {0x80, 0x80, 0x05, 0x21, 0x00, 0x01, 0x00, 0x01};

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes extract(const Bytes& stream, int id = 0xE0) {
    Bytes out;
    mpegsnap::ProgramStreamReader(id).Extract(stream.data(), stream.size(), out);
    return out;
}

TEST(ProgramStreamReader, Mpeg2PacketsOfTheWantedStreamInOrder) {
    const Bytes stream = join({mpeg2Pack(3), packet(0xBB, {0x80, 0x01, 0x01, 0x04, 0xE1, 0xFF}, {}),
                               packet(0xE0, kMpeg2PesWithPts, {1, 2, 3}),
                               packet(0xC0, kMpeg2PesWithPts, {9, 9, 9, 9}),
                               packet(0xBE, {}, Bytes(20, 0xFF)),  // padding
                               packet(0xE1, kMpeg2PesWithPts, {8, 8}), mpeg2Pack(0),
                               packet(0xE0, {0x80, 0x00, 0x00}, {4, 5})});
    EXPECT_EQ(extract(stream), (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(extract(stream, 0xE1), (Bytes{8, 8}));
}

TEST(ProgramStreamReader, Mpeg1HeaderForms) {
    const Bytes stream =
        join({mpeg1Pack(), packet(0xE0, {0x0F}, {1}), packet(0xE0, {0xFF, 0xFF, 0x0F}, {2}),
              packet(0xE0, {0x40, 0x20, 0x21, 0, 1, 0, 1}, {3}),
              packet(0xE0, {0x31, 0, 1, 0, 1, 0x11, 0, 1, 0, 1}, {4}),
              // Not a valid header: the packet is passed over.
              packet(0xE0, {0x55}, {7, 7}), packet(0xE0, {0x0F}, {5})});
    EXPECT_EQ(extract(stream), (Bytes{1, 2, 3, 4, 5}));
}

TEST(ProgramStreamReader, LengthsBeyondTheDataAreBounded) {
    // A header length and a packet length that reach past the data: the
    // first is dropped, the cut-off last packet keeps the bytes present.
    Bytes badHeader = packet(0xE0, {0x80, 0x80, 0x40}, {1, 2});
    const Bytes last = packet(0xE0, {0x0F}, {3, 4, 5, 6, 7, 8});
    Bytes stream = join({mpeg2Pack(0), badHeader, last});
    stream.resize(stream.size() - 3);
    EXPECT_EQ(extract(stream), (Bytes{3, 4, 5}));
    // Every prefix of a stream extracts without reading past its end.
    for (std::size_t size = 0; size < stream.size(); ++size) {
        Bytes head(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(size));
        Bytes out;
        mpegsnap::ProgramStreamReader().Extract(head.data(), head.size(), out);
        EXPECT_LE(out.size(), 3u);
    }
}

TEST(ProgramStreamReader, EndCodeStopsAndNothingFoundIsReported) {
    const Bytes stream =
        join({mpeg2Pack(0), packet(0xE0, {0x0F}, {1}), {0, 0, 1, 0xB9}, packet(0xE0, {0x0F}, {2})});
    EXPECT_EQ(extract(stream), (Bytes{1}));
    Bytes out;
    const Bytes audioOnly = join({mpeg2Pack(0), packet(0xC0, {0x0F}, {1})});
    EXPECT_FALSE(mpegsnap::ProgramStreamReader().Extract(audioOnly.data(), audioOnly.size(), out));
    EXPECT_TRUE(out.empty());
}

}  // namespace
