#pragma once
// Program Map Table sections (ISO/IEC 13818-1, table_id 2) into a list of
// elementary streams. The parser takes one whole section; the stream scan
// finds it at the second payload byte of a packet (pointer field 0) or, for
// a section longer than one packet, gathers it from the packets that follow.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "demux/pmt_entry.h"

class CPmtParser {
  public:
    explicit CPmtParser(CPMT& target) : m_target(&target) {}

    // The validity test: table_id 2, syntax indicator set, 4 < section_length
    // <= 1021, section_length >= program_info_length + 13, last_section_number
    // >= section_number, and the whole section inside the length bytes held.
    static bool IsPMTSection(const std::uint8_t* section, int length);
    // 1 when the section was accepted or its (programme, version) is already
    // known, 0 otherwise.
    int OnPMTSection(const std::uint8_t* section, int length);
    // Adds the section's video (MPEG-2, H.264, HEVC), audio (MPEG, AC-3,
    // E-AC-3, AAC), DVB subtitle and teletext streams to pmt. The section
    // must have passed IsPMTSection with the same length.
    static bool ParsePMT(CPMT& pmt, const std::uint8_t* section, int length);

    int ProgramCount() const { return m_programs; }

  private:
    static void parseEntry(CPMT& pmt, const std::uint8_t* section, int entry);
    static void classify(sPMTEntry& e, const std::uint8_t* section, int entry, int infoEnd);
    static std::string entryLanguage(const std::uint8_t* section, int entry, int infoEnd,
                                     std::int32_t type);
    static bool isOtherPrivateData(const std::uint8_t* section, int entry, int infoEnd);
    // Offset of the first descriptor with this tag in from..end, or -1.
    static int findDescriptor(const std::uint8_t* section, int from, int end, int tag);
    static std::string supplementaryLanguage(const std::uint8_t* section, int from, int end);
    static std::string descriptorLanguage(const std::uint8_t* section, int from, int end, int tag,
                                          const char* fallback = "???");

    CPMT* m_target;
    int m_programs = 0;
    std::vector<std::pair<int, int>> m_parsed;  // (program_number, version_number)
};
