#pragma once
// A table-driven decoder for one prefix-free variable-length code: a root
// table indexed by the next rootBits bits, with second-level tables for the
// longer codes.

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "mpegsnap/bit_reader.h"

namespace mpegsnap {

class VlcTable {
  public:
    // One code word as a string of '0' and '1', and the value it stands for.
    struct Code {
        const char* bits;
        int value;
    };
    static constexpr int kInvalid = -32768;

    VlcTable(const std::vector<Code>& codes, int rootBits);

    // Decodes one code word and consumes it; an invalid code consumes
    // nothing and gives kInvalid.
    int Decode(BitReader& reader) const {
        Entry entry = m_entries[reader.Peek(m_rootBits)];
        if (entry.length < 0) {
            reader.Skip(m_rootBits);
            entry = m_entries[static_cast<std::size_t>(entry.value) + reader.Peek(-entry.length)];
        }
        if (entry.length == 0) return kInvalid;
        reader.Skip(entry.length);
        return entry.value;
    }

    // The same after reader.Need(32): the longest code is shorter.
    int DecodeNeeded(BitReader& reader) const {
        Entry entry = m_entries[reader.Show(m_rootBits)];
        if (entry.length < 0) {
            reader.Drop(m_rootBits);
            entry = m_entries[static_cast<std::size_t>(entry.value) + reader.Show(-entry.length)];
        }
        if (entry.length == 0) return kInvalid;
        reader.Drop(entry.length);
        return entry.value;
    }

    int RootBits() const { return m_rootBits; }

  private:
    struct Entry {
        std::int32_t value = kInvalid;
        std::int8_t length = 0;  // > 0: code length; < 0: sub-table with -length bits; 0: invalid
    };

    int m_rootBits;
    std::vector<Entry> m_entries;
};

}  // namespace mpegsnap
