#include <gtest/gtest.h>

#include "app/cut_list.h"
#include "platform/memory_settings_store.h"

namespace {

class CutListStore : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetSettingsStore(&m_store); }
    void TearDown() override { platform::SetSettingsStore(nullptr); }

    static std::vector<std::uint8_t> le64(std::int64_t v) {
        std::vector<std::uint8_t> b(8);
        for (int i = 0; i < 8; ++i)
            b[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) >> (8 * i));
        return b;
    }
    void storeArea(const std::string& sub, std::uint32_t s0, std::uint32_t s1,
                   std::uint32_t enabled = 1) {
        m_store.SetInt("CutList/Film.ts/" + sub, "SectorStart", s0);
        m_store.SetInt("CutList/Film.ts/" + sub, "SectorEnd", s1);
        m_store.SetInt("CutList/Film.ts/" + sub, "IsEnabled", enabled);
    }

    platform::MemorySettingsStore m_store;
};

CCutArea marked(std::uint64_t s0, std::int64_t p0, std::uint64_t s1, std::int64_t p1) {
    CCutArea a;
    cutlist::SetStartMark(a, s0, p0);
    cutlist::SetEndMark(a, s1, p1);
    return a;
}

TEST(CutListRules, MarksKeepStartBeforeEnd) {
    CCutList list;
    EXPECT_EQ(cutlist::Append(list), 0u);
    EXPECT_FALSE(list[0].IsEnabled);
    cutlist::SetStartMark(list[0], 100, 9000);
    EXPECT_EQ(list[0].SectorEnd, 100u);  // the end moves with the start
    EXPECT_EQ(list[0].PTSEnd, 9000);
    EXPECT_FALSE(list[0].IsEnabled);
    cutlist::SetEndMark(list[0], 300, 18000);
    EXPECT_TRUE(list[0].IsEnabled);
    // An end before the start collapses the area onto its start.
    cutlist::SetEndMark(list[0], 50, 1000);
    EXPECT_EQ(list[0].SectorEnd, 100u);
    EXPECT_EQ(list[0].PTSEnd, 9000);
    EXPECT_FALSE(list[0].IsEnabled);
    // A start behind the end moves the end along.
    cutlist::SetEndMark(list[0], 300, 18000);
    cutlist::SetStartMark(list[0], 400, 27000);
    EXPECT_EQ(list[0].SectorEnd, 400u);
    EXPECT_FALSE(list[0].IsEnabled);

    EXPECT_EQ(cutlist::Append(list), 1u);
    cutlist::RemoveAt(list, 0);
    EXPECT_EQ(list.size(), 1u);
    cutlist::RemoveAt(list, 5);  // out of range: nothing
    cutlist::RemoveAll(list);
    EXPECT_TRUE(list.empty());
}

TEST_F(CutListStore, StoresEnabledAreasWithGapsAndLoadsThemRenumbered) {
    CCutList list = {marked(10, 900, 20, 1800), CCutArea{},
                     marked(0x100000005ull, 2700, 0x100000009ull, 3600)};
    cutlist::Save(list, 0x123456789A, "Film.ts");
    EXPECT_EQ(m_store.GetBinary("CutList/Film.ts", "FirstPTS"), le64(0x123456789A));
    EXPECT_EQ(m_store.GetInt("CutList/Film.ts/0", "SectorStart"), 10u);
    EXPECT_EQ(m_store.GetInt("CutList/Film.ts/0", "SectorEnd"), 20u);
    EXPECT_EQ(m_store.GetBinary("CutList/Film.ts/0", "PTSStart"), le64(900));
    EXPECT_EQ(m_store.GetInt("CutList/Film.ts/0", "IsEnabled"), 1u);
    EXPECT_FALSE(m_store.HasGroup("CutList/Film.ts/1"));
    EXPECT_EQ(m_store.GetInt("CutList/Film.ts/2", "SectorStart"), 5u);  // low 32 bits
    EXPECT_EQ(m_store.GetBinary("CutList/Film.ts/2", "PTSEnd"), le64(3600));

    CCutList loaded;
    std::int64_t first = 0;
    cutlist::Load(loaded, first, "Film.ts");
    EXPECT_EQ(first, 0x123456789A);
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[1].SectorStart, 5u);
    EXPECT_EQ(loaded[1].PTSStart, 2700);
    EXPECT_TRUE(loaded[1].IsEnabled);
    cutlist::Save(loaded, first, "Film.ts");
    EXPECT_TRUE(m_store.HasGroup("CutList/Film.ts/1"));
    EXPECT_FALSE(m_store.HasGroup("CutList/Film.ts/2"));
}

TEST_F(CutListStore, ProbesThirtyIndicesThenStopsAtTheFirstGap) {
    for (int i = 0; i <= 35; ++i)
        if (i != 31 && i != 3) storeArea(std::to_string(i), 10u * i, 10u * i + 5);
    storeArea("40", 1, 2, 0);
    CCutList loaded;
    std::int64_t first = 77;
    cutlist::Load(loaded, first, "Film.ts");
    EXPECT_EQ(first, 77);           // no stored stamp
    ASSERT_EQ(loaded.size(), 30u);  // 0..30 less 3
    EXPECT_EQ(loaded.back().SectorStart, 300u);
    EXPECT_TRUE(m_store.HasGroup("CutList/Film.ts/32"));  // left until the next save
}

TEST_F(CutListStore, DamagedValuesGiveSoundAreas) {
    storeArea("0", 500, 100);  // start behind end
    m_store.SetBinary("CutList/Film.ts/0", "PTSStart", {1, 2, 3});
    m_store.SetBinary("CutList/Film.ts/0", "PTSEnd", le64(4500));
    m_store.SetBinary("CutList/Film.ts", "FirstPTS", {1, 2, 3, 4});
    CCutList loaded;
    std::int64_t first = 42;
    cutlist::Load(loaded, first, "Film.ts");
    EXPECT_EQ(first, 42);  // 4 bytes are not a stamp
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].SectorStart, 100u);
    EXPECT_EQ(loaded[0].SectorEnd, 500u);
    EXPECT_EQ(loaded[0].PTSStart, 4500);
    EXPECT_EQ(loaded[0].PTSEnd, 0);
}

TEST_F(CutListStore, LeavesNoKeyBehindWithoutAreas) {
    storeArea("0", 1, 2, 0);
    m_store.SetBinary("CutList/Film.ts", "FirstPTS", le64(5));
    CCutList loaded;
    std::int64_t first = 0;
    cutlist::Load(loaded, first, "Film.ts");
    EXPECT_TRUE(loaded.empty());
    EXPECT_FALSE(m_store.HasGroup("CutList/Film.ts"));
    cutlist::Save({CCutArea{}}, 5, "Film.ts");
    EXPECT_FALSE(m_store.HasGroup("CutList/Film.ts"));
    EXPECT_EQ(m_store.ValueCount(), 0u);
}

TEST_F(CutListStore, TitlesWithSeparatorsGetTheirOwnGroup) {
    cutlist::Save({marked(1, 0, 2, 0)}, 0, "a/b.ts");
    cutlist::Save({marked(3, 0, 4, 0)}, 0, "a");
    CCutList loaded;
    std::int64_t first = 0;
    cutlist::Load(loaded, first, "a/b.ts");
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].SectorStart, 1u);
}

}  // namespace
