// Both settings stores keep integers, strings and 8-byte binaries, remove a
// group with everything below it and list child groups.

#include <gtest/gtest.h>

#include <memory>

#include "platform/memory_settings_store.h"
#include "shell/qt/qsettings_store.h"
#include "support/temp_dir.h"

namespace {

struct StoreFactory {
    const char* name;
    std::function<std::unique_ptr<platform::ISettingsStore>(const TempDir&)> make;
};

void PrintTo(const StoreFactory& factory, std::ostream* out) { *out << factory.name; }

class SettingsStoreTest : public ::testing::TestWithParam<StoreFactory> {
  protected:
    TempDir dir;
    std::unique_ptr<platform::ISettingsStore> store = GetParam().make(dir);
};

TEST_P(SettingsStoreTest, RoundTripsEveryKind) {
    store->SetInt("Defaults", "LogLevel", 3);
    store->SetInt("Defaults", "Big", 0xFFFFFFFFu);
    store->SetString("Defaults", "OutputPath", "/home/u/Videos");
    std::vector<std::uint8_t> stamp{1, 2, 3, 4, 5, 6, 7, 8};
    store->SetBinary("CutList/Film.ts", "FirstPTS", stamp);
    EXPECT_EQ(store->GetInt("Defaults", "LogLevel"), 3u);
    EXPECT_EQ(store->GetInt("Defaults", "Big"), 0xFFFFFFFFu);
    EXPECT_EQ(store->GetString("Defaults", "OutputPath"), "/home/u/Videos");
    EXPECT_EQ(store->GetBinary("CutList/Film.ts", "FirstPTS"), stamp);
    EXPECT_FALSE(store->GetInt("Defaults", "Missing").has_value());
    EXPECT_FALSE(store->GetBinary("Defaults", "OutputPath").has_value());
}

TEST_P(SettingsStoreTest, RemoveGroupTakesEverythingBelow) {
    store->SetBinary("CutList/Film.ts", "FirstPTS", std::vector<std::uint8_t>(8, 1));
    store->SetInt("CutList/Film.ts/0", "SectorStart", 10);
    store->SetInt("CutList/Film.ts/2", "SectorStart", 20);
    store->SetInt("CutList/Film.ts.other/0", "SectorStart", 30);
    EXPECT_EQ(store->ChildGroups("CutList/Film.ts"), (std::vector<std::string>{"0", "2"}));
    store->RemoveGroup("CutList/Film.ts");
    EXPECT_FALSE(store->GetInt("CutList/Film.ts/0", "SectorStart").has_value());
    EXPECT_FALSE(store->GetBinary("CutList/Film.ts", "FirstPTS").has_value());
    EXPECT_TRUE(store->ChildGroups("CutList/Film.ts").empty());
    // A sibling whose name merely starts the same stays.
    EXPECT_EQ(store->GetInt("CutList/Film.ts.other/0", "SectorStart"), 30u);
}

TEST_P(SettingsStoreTest, EscapedTitlesStayOneGroup) {
    std::string group = "CutList/" + platform::EscapeGroupName("a/b\\c%d.ts");
    store->SetInt(group + "/0", "IsEnabled", 1);
    EXPECT_EQ(store->ChildGroups("CutList"), (std::vector<std::string>{"a%2Fb%5Cc%25d.ts"}));
    EXPECT_EQ(store->GetInt(group + "/0", "IsEnabled"), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Backends, SettingsStoreTest,
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

TEST(QSettingsStoreFile, ValuesSurviveAReopen) {
    TempDir dir;
    QString ini = QString::fromStdString(dir.File("r.ini"));
    {
        QSettingsStore store(ini);
        store.SetInt("Demux", "FileExtAudio", 22);
        store.SetBinary("CutList/Film.ts/0", "PTSStart", {0x10, 0, 0, 0, 1, 0, 0, 0});
        store.Sync();
    }
    QSettingsStore store(ini);
    EXPECT_EQ(store.GetInt("Demux", "FileExtAudio"), 22u);
    auto pts = store.GetBinary("CutList/Film.ts/0", "PTSStart");
    ASSERT_TRUE(pts.has_value());
    EXPECT_EQ(pts->size(), 8u);
    EXPECT_EQ((*pts)[4], 1);
}

}  // namespace
