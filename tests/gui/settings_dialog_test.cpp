// The settings dialog: what it shows, what OK and Cancel store, the
// "Use source directory" rule, browsing, and the output-folder check after OK.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>

#include "gui_fixture.h"
#include "platform/settings_store.h"
#include "shell/preferences.h"
#include "shell/qt/dlg_settings.h"

namespace {
template <typename T>
T* Control(QWidget& dialog, int id) {
    T* control = dialog.findChild<T*>(QStringLiteral("ctl%1").arg(id));
    EXPECT_NE(control, nullptr) << id;
    return control;
}

class SettingsDialogTest : public GuiTest {
  protected:
    void TearDown() override {
        CDlgSettings::SetFolderBrowser([](QWidget*, const QString&) { return QString(); });
        GuiTest::TearDown();
    }
};
}  // namespace

TEST_F(SettingsDialogTest, FreshStoreShowsTheDefaultsAndCancelWritesNothing) {
    TempDir fresh;
    QSettingsStore store(QString::fromStdString(fresh.File("fresh.ini")));
    platform::SetSettingsStore(&store);
    {
        CDlgSettings dialog;
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Settings..."));
        // No stored path: the user's video folder + "Ravelo", not "." (the
        // folder the program happened to be started in).
        EXPECT_EQ(Control<QLineEdit>(dialog, 2000)->text(),
                  QString::fromStdString(CPreferences::DefaultOutputPath()) + '/');
        EXPECT_TRUE(Control<QLineEdit>(dialog, 2000)->isReadOnly());
        EXPECT_TRUE(Control<QRadioButton>(dialog, 2001)->isChecked());   // M2V
        EXPECT_FALSE(Control<QRadioButton>(dialog, 2002)->isChecked());  // MPV
        EXPECT_TRUE(Control<QRadioButton>(dialog, 2003)->isChecked());   // MP2
        EXPECT_FALSE(Control<QRadioButton>(dialog, 2009)->isChecked());  // MP3
        EXPECT_FALSE(Control<QRadioButton>(dialog, 2004)->isChecked());  // MPA
        EXPECT_FALSE(Control<QCheckBox>(dialog, 2005)->isChecked());
        EXPECT_FALSE(Control<QCheckBox>(dialog, 2008)->isChecked());
        EXPECT_TRUE(Control<QCheckBox>(dialog, 3010)->isChecked());
        QComboBox* level = Control<QComboBox>(dialog, 2006);
        ASSERT_EQ(level->count(), 4);
        EXPECT_EQ(level->itemText(0), QStringLiteral("0: Off"));
        EXPECT_EQ(level->itemText(1), QStringLiteral("1: Function calls only"));
        EXPECT_EQ(level->itemText(2), QStringLiteral("2: Important details"));
        EXPECT_EQ(level->itemText(3), QStringLiteral("3: All details"));
        EXPECT_EQ(level->currentIndex(), 1);
        Control<QRadioButton>(dialog, 2009)->setChecked(true);
        dialog.reject();
    }
    EXPECT_FALSE(store.GetInt("Defaults", "LogLevel").has_value());
    EXPECT_FALSE(store.GetInt("Demux", "FileExtAudio").has_value());
    EXPECT_FALSE(store.GetString("Defaults", "OutputPath").has_value());
    platform::SetSettingsStore(m_store.get());
}

TEST_F(SettingsDialogTest, PathIsShownWithSeparatorAndStoredWithoutOne) {
    CDlgSettings dialog;
    EXPECT_EQ(Control<QLineEdit>(dialog, 2000)->text(), QString::fromStdString(m_output + "/"));
    Control<QRadioButton>(dialog, 2009)->setChecked(true);  // MP3
    Control<QRadioButton>(dialog, 2002)->setChecked(true);  // MPV
    Control<QCheckBox>(dialog, 2005)->setChecked(true);
    Control<QCheckBox>(dialog, 3010)->setChecked(false);
    Control<QComboBox>(dialog, 2006)->setCurrentIndex(3);
    Control<QPushButton>(dialog, 1)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(CPreferences::GetOutputPath(), m_output);
    EXPECT_EQ(CPreferences::GetFileExt(true), 22u);
    EXPECT_EQ(CPreferences::AudioExtension(), ".mpa");
    EXPECT_EQ(CPreferences::GetFileExt(false), 11u);
    EXPECT_TRUE(CPreferences::GetCompensateVideoDelay());
    EXPECT_FALSE(CPreferences::GetShowDirectHelp());
    EXPECT_EQ(CPreferences::GetLogLevel(), 3u);
    // The check after OK made the work folders.
    for (const char* name : {"~log", "~temp", "~demux"})
        EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(m_output) / name)) << name;
    EXPECT_TRUE(m_prompts.asked.empty());
}

TEST_F(SettingsDialogTest, UseSourceDirectoryDisablesPathAndBrowseButStillStoresThePath) {
    CDlgSettings dialog;
    QCheckBox* useSource = Control<QCheckBox>(dialog, 2008);
    EXPECT_TRUE(Control<QLineEdit>(dialog, 2000)->isEnabled());
    useSource->click();
    EXPECT_FALSE(Control<QLineEdit>(dialog, 2000)->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(dialog, 2007)->isEnabled());
    dialog.accept();
    EXPECT_TRUE(CPreferences::GetUseSourceAsOutputPath());
    EXPECT_EQ(CPreferences::GetOutputPath(), m_output);
    CDlgSettings again;
    EXPECT_FALSE(Control<QLineEdit>(again, 2000)->isEnabled());
    Control<QCheckBox>(again, 2008)->click();
    EXPECT_TRUE(Control<QPushButton>(again, 2007)->isEnabled());
}

TEST_F(SettingsDialogTest, BrowsingStartsAtThePathAndTheRootStaysTheRoot) {
    QString initial;
    QString answer = QString::fromStdString(m_dir.File("chosen"));
    CDlgSettings::SetFolderBrowser([&](QWidget*, const QString& start) {
        initial = start;
        return answer;
    });
    CDlgSettings dialog;
    Control<QPushButton>(dialog, 2007)->click();
    EXPECT_EQ(initial, QString::fromStdString(m_output));  // without the separator
    EXPECT_EQ(Control<QLineEdit>(dialog, 2000)->text(), answer + "/");
    answer = QStringLiteral("/");
    Control<QPushButton>(dialog, 2007)->click();
    EXPECT_EQ(Control<QLineEdit>(dialog, 2000)->text(), QStringLiteral("/"));
    answer.clear();  // cancelled: nothing changes
    Control<QPushButton>(dialog, 2007)->click();
    EXPECT_EQ(Control<QLineEdit>(dialog, 2000)->text(), QStringLiteral("/"));
    dialog.accept();
    EXPECT_EQ(CPreferences::GetOutputPath(), "/");
}

TEST_F(SettingsDialogTest, OkWithAMissingOutputPathComplainsAndOpensTheDialogAgain) {
    const std::string missing = m_dir.File("gone");
    CPreferences::SetOutputPath(missing);
    CDlgSettings dialog;
    dialog.accept();
    ASSERT_EQ(m_prompts.asked.size(), 1u);
    EXPECT_EQ(m_prompts.asked[0].caption, "ATTENTION!");
    EXPECT_EQ(m_prompts.asked[0].text,
              "The output path specified in the 'settings' window is not found or invalid:\r\n" +
                  missing);
    EXPECT_EQ(m_prompts.settingsDialogs, 1);
    EXPECT_EQ(CPreferences::GetOutputPath(), missing);  // stays stored
}

TEST_F(SettingsDialogTest, StoredLevelOutsideTheListShowsNoneAndIsKept) {
    platform::Settings().SetInt("Defaults", "LogLevel", 7);
    CDlgSettings dialog;
    EXPECT_EQ(Control<QComboBox>(dialog, 2006)->currentIndex(), -1);
    dialog.accept();
    EXPECT_EQ(CPreferences::GetLogLevel(), 7u);
}

TEST_F(SettingsDialogTest, StoredExtensionsCheckTheirButtons) {
    CPreferences::SetFileExtVideo(11);
    CPreferences::SetFileExtAudio(21);
    CDlgSettings dialog;
    EXPECT_TRUE(Control<QRadioButton>(dialog, 2002)->isChecked());
    EXPECT_TRUE(Control<QRadioButton>(dialog, 2004)->isChecked());
    EXPECT_FALSE(Control<QRadioButton>(dialog, 2003)->isChecked());
    dialog.accept();
    EXPECT_EQ(CPreferences::GetFileExt(true), 21u);
    EXPECT_EQ(CPreferences::GetFileExt(false), 11u);
}
