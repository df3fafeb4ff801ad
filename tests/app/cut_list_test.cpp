#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "app/cut_list.h"
#include "platform/memory_settings_store.h"
#include "shell/qt/qsettings_store.h"
#include "support/temp_dir.h"

namespace {

// The cut-list store through both backends: the memory store of the tests and
// the QSettings store the program uses (an INI file on Linux).
struct StoreFactory {
    const char* name;
    std::function<std::unique_ptr<platform::ISettingsStore>(const TempDir&)> make;
};
void PrintTo(const StoreFactory& factory, std::ostream* out) { *out << factory.name; }

class CutListStore : public ::testing::TestWithParam<StoreFactory> {
  protected:
    void SetUp() override {
        m_store = GetParam().make(m_dir);
        platform::SetSettingsStore(m_store.get());
    }
    void TearDown() override { platform::SetSettingsStore(nullptr); }

    static std::vector<std::uint8_t> le64(std::int64_t v) {
        std::vector<std::uint8_t> b(8);
        for (int i = 0; i < 8; ++i)
            b[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) >> (8 * i));
        return b;
    }
    void storeArea(const std::string& sub, std::uint32_t s0, std::uint32_t s1,
                   std::uint32_t enabled = 1) {
        m_store->SetInt("CutList/Film.ts/" + sub, "SectorStart", s0);
        m_store->SetInt("CutList/Film.ts/" + sub, "SectorEnd", s1);
        m_store->SetInt("CutList/Film.ts/" + sub, "IsEnabled", enabled);
    }
    bool hasGroup(const std::string& group) const {
        const auto slash = group.rfind('/');
        const auto children = m_store->ChildGroups(group.substr(0, slash));
        return std::find(children.begin(), children.end(), group.substr(slash + 1)) !=
               children.end();
    }

    TempDir m_dir;
    std::unique_ptr<platform::ISettingsStore> m_store;
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

TEST_P(CutListStore, StoresEnabledAreasWithGapsAndLoadsThemRenumbered) {
    CCutList list = {marked(10, 900, 20, 1800), CCutArea{}, marked(50, 2700, 90, 3600)};
    cutlist::Save(list, 0x123456789A, "Film.ts");
    EXPECT_EQ(m_store->GetBinary("CutList/Film.ts", "FirstPTS"), le64(0x123456789A));
    EXPECT_EQ(m_store->GetInt("CutList/Film.ts/0", "SectorStart"), 10u);
    EXPECT_EQ(m_store->GetInt("CutList/Film.ts/0", "SectorEnd"), 20u);
    EXPECT_EQ(m_store->GetBinary("CutList/Film.ts/0", "PTSStart"), le64(900));
    EXPECT_EQ(m_store->GetInt("CutList/Film.ts/0", "IsEnabled"), 1u);
    EXPECT_FALSE(hasGroup("CutList/Film.ts/1"));
    EXPECT_FALSE(m_store->GetInt("CutList/Film.ts/0", "SectorStartHigh").has_value());
    EXPECT_EQ(m_store->GetBinary("CutList/Film.ts/2", "PTSEnd"), le64(3600));

    CCutList loaded;
    std::int64_t first = 0;
    cutlist::Load(loaded, first, "Film.ts");
    EXPECT_EQ(first, 0x123456789A);
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[1].SectorStart, 50u);
    EXPECT_EQ(loaded[1].PTSStart, 2700);
    EXPECT_TRUE(loaded[1].IsEnabled);
    cutlist::Save(loaded, first, "Film.ts");
    EXPECT_TRUE(hasGroup("CutList/Film.ts/1"));
    EXPECT_FALSE(hasGroup("CutList/Film.ts/2"));
}

TEST_P(CutListStore, SectorsBeyondTwoTebibytesKeepTheirHighBits) {
    const std::uint64_t past = (std::uint64_t{1} << 32) + 5;  // 2 TiB + 2,560 bytes
    const std::uint64_t before = (std::uint64_t{1} << 32) - 100;
    CCutList list = {marked(past, 1, past + 4, 2), marked(before, 3, past, 4)};
    cutlist::Save(list, 7, "Film.ts");
    // Readers of the 32-bit values alone find the low parts, as they always did.
    EXPECT_EQ(m_store->GetInt("CutList/Film.ts/0", "SectorStart"), 5u);
    EXPECT_EQ(m_store->GetInt("CutList/Film.ts/0", "SectorStartHigh"), 1u);
    EXPECT_FALSE(m_store->GetInt("CutList/Film.ts/1", "SectorStartHigh").has_value());
    CCutList loaded;
    std::int64_t first = 0;
    cutlist::Load(loaded, first, "Film.ts");
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0].SectorStart, past);
    EXPECT_EQ(loaded[0].SectorEnd, past + 4);
    // An area across 2 TiB stays the 104 sectors it was, not the whole recording.
    EXPECT_EQ(loaded[1].SectorStart, before);
    EXPECT_EQ(loaded[1].SectorEnd, past);
    EXPECT_TRUE(loaded[1].IsEnabled);
}

TEST_P(CutListStore, ProbesThirtyIndicesThenStopsAtTheFirstGap) {
    for (int i = 0; i <= 35; ++i)
        if (i != 31 && i != 3) storeArea(std::to_string(i), 10u * i, 10u * i + 5);
    storeArea("40", 1, 2, 0);
    CCutList loaded;
    std::int64_t first = 77;
    cutlist::Load(loaded, first, "Film.ts");
    EXPECT_EQ(first, 77);           // no stored stamp
    ASSERT_EQ(loaded.size(), 30u);  // 0..30 less 3
    EXPECT_EQ(loaded.back().SectorStart, 300u);
    EXPECT_TRUE(hasGroup("CutList/Film.ts/32"));  // left until the next save
}

TEST_P(CutListStore, DamagedValuesGiveDisabledAreas) {
    storeArea("0", 500, 100);  // start behind end: disabled, not swapped
    m_store->SetBinary("CutList/Film.ts/0", "PTSStart", {1, 2, 3});
    m_store->SetBinary("CutList/Film.ts/0", "PTSEnd", le64(4500));
    m_store->SetBinary("CutList/Film.ts", "FirstPTS", {1, 2, 3, 4});
    m_store->SetInt("CutList/Film.ts/1", "IsEnabled", 1);  // no sectors at all
    m_store->SetInt("CutList/Film.ts/1", "SectorEnd", 300);
    storeArea("2", 10, 20);
    CCutList loaded;
    std::int64_t first = 42;
    cutlist::Load(loaded, first, "Film.ts");
    EXPECT_EQ(first, 42);  // 4 bytes are not a stamp
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_EQ(loaded[0].SectorStart, 500u);
    EXPECT_EQ(loaded[0].SectorEnd, 100u);
    EXPECT_EQ(loaded[0].PTSStart, 0);
    EXPECT_EQ(loaded[0].PTSEnd, 4500);
    EXPECT_FALSE(loaded[0].IsEnabled);
    EXPECT_FALSE(loaded[1].IsEnabled) << "a missing start is no area from sector 0";
    EXPECT_TRUE(loaded[2].IsEnabled);
}

TEST_P(CutListStore, LeavesNoKeyBehindWithoutAreas) {
    storeArea("0", 1, 2, 0);
    m_store->SetBinary("CutList/Film.ts", "FirstPTS", le64(5));
    CCutList loaded;
    std::int64_t first = 0;
    cutlist::Load(loaded, first, "Film.ts");
    EXPECT_TRUE(loaded.empty());
    EXPECT_FALSE(hasGroup("CutList/Film.ts"));
    cutlist::Save({CCutArea{}}, 5, "Film.ts");
    EXPECT_FALSE(hasGroup("CutList/Film.ts"));
    EXPECT_TRUE(m_store->ChildGroups("CutList").empty());
}

TEST_P(CutListStore, TitlesWithSeparatorsGetTheirOwnGroup) {
    cutlist::Save({marked(1, 0, 2, 0)}, 0, "a/b.ts");
    cutlist::Save({marked(3, 0, 4, 0)}, 0, "a");
    cutlist::Save({marked(5, 0, 6, 0)}, 0, "a\\b.ts");
    cutlist::Save({marked(7, 0, 8, 0)}, 0, "b.ts");
    CCutList loaded;
    std::int64_t first = 0;
    cutlist::Load(loaded, first, "a/b.ts");
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].SectorStart, 1u);
    cutlist::Load(loaded, first, "a\\b.ts");
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].SectorStart, 5u);
}

TEST_P(CutListStore, TitlesThatAreNotUtf8KeepTheirBytes) {
    // Latin-1 names from a receiver's disk: each keeps a group of its own,
    // and a UTF-8 name keeps the group it always had.
    cutlist::Save({marked(1, 0, 2, 0)}, 0, "F\xEFLM.ts");
    cutlist::Save({marked(3, 0, 4, 0)}, 0, "F\xFCLM.ts");
    cutlist::Save({marked(5, 0, 6, 0)}, 0, "F\xC3\xBCLM.ts");
    EXPECT_EQ(cutlist::GroupName("F\xC3\xBCLM.ts"), "CutList/F\xC3\xBCLM.ts");
    for (const auto& [title, sector] : std::vector<std::pair<std::string, std::uint64_t>>{
             {"F\xEFLM.ts", 1}, {"F\xFCLM.ts", 3}, {"F\xC3\xBCLM.ts", 5}}) {
        CCutList loaded;
        std::int64_t first = 0;
        cutlist::Load(loaded, first, title);
        ASSERT_EQ(loaded.size(), 1u) << title;
        EXPECT_EQ(loaded[0].SectorStart, sector) << title;
    }
}

TEST_P(CutListStore, OutOfRangeSectorsAreRefusedNotCut) {
    if (std::string(GetParam().name) != "QSettings") GTEST_SKIP() << "only text can hold them";
    auto& raw = dynamic_cast<QSettingsStore&>(*m_store).Raw();
    raw.setValue("CutList/Film.ts/0/SectorStart", QString("4294967396"));  // 2^32 + 100
    raw.setValue("CutList/Film.ts/0/SectorEnd", QString("200"));
    raw.setValue("CutList/Film.ts/0/IsEnabled", 1);
    raw.setValue("CutList/Film.ts/1/SectorStart", QString("-5"));  // a signed 32-bit value
    raw.setValue("CutList/Film.ts/1/SectorEnd", QString("-1"));
    raw.setValue("CutList/Film.ts/1/IsEnabled", 1);
    EXPECT_FALSE(m_store->GetInt("CutList/Film.ts/0", "SectorStart").has_value());
    CCutList loaded;
    std::int64_t first = 0;
    cutlist::Load(loaded, first, "Film.ts");
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_FALSE(loaded[0].IsEnabled);
    EXPECT_EQ(loaded[1].SectorStart, 0xFFFFFFFBu);
    EXPECT_EQ(loaded[1].SectorEnd, 0xFFFFFFFFu);
    EXPECT_TRUE(loaded[1].IsEnabled);
}

INSTANTIATE_TEST_SUITE_P(
    Backends, CutListStore,
    ::testing::Values(StoreFactory{"Memory",
                                   [](const TempDir&) {
                                       return std::make_unique<platform::MemorySettingsStore>();
                                   }},
                      StoreFactory{"QSettings",
                                   [](const TempDir& dir) {
                                       return std::make_unique<QSettingsStore>(
                                           QString::fromStdString(dir.File("r.ini")));
                                   }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
