#pragma once
// The common frame of the access-unit scanners: the stream is split into its
// start-code units, handed to the codec's onUnit one by one, and the access
// unit under way is kept (where it began, whether its picture has come).

#include "codec/access_unit.h"
#include "codec/start_code_splitter.h"

namespace codec {

class StartCodeScanner : public IAccessUnitScanner {
  public:
    StartCodeScanner() : m_splitter([this](const StartCodeUnit& unit) { onUnit(unit); }) {}

    void Feed(const std::uint8_t* data, std::size_t size) override {
        m_splitter.Feed(data, size);
        m_fed = m_splitter.Fed();
    }
    void Finish() override { m_splitter.Finish(); }

  protected:
    virtual void onUnit(const StartCodeUnit& unit) = 0;

    // A new access unit begins at offset.
    void startAccessUnit(std::uint64_t offset) {
        m_unitOpen = true;
        m_unitStart = offset;
        m_unitHasPicture = false;
    }
    // A unit that may begin an access unit does so unless the one under way
    // has no picture yet.
    bool beginsAccessUnit() const { return !m_unitOpen || m_unitHasPicture; }

    bool m_unitOpen = false;
    std::uint64_t m_unitStart = 0;
    bool m_unitHasPicture = false;

  private:
    StartCodeSplitter m_splitter;
};

}  // namespace codec
