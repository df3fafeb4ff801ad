#pragma once
// The settings store on QSettings("Korvane", "Ravelo"): the registry key of
// the same name on Windows, an INI file in the user's config folder on Linux.

#include <QSettings>
#include <memory>

#include "platform/settings_store.h"

class QSettingsStore : public platform::ISettingsStore {
  public:
    QSettingsStore();                                 // the user's own store
    explicit QSettingsStore(const QString& iniPath);  // a given INI file (tests)

    std::optional<std::uint32_t> GetInt(std::string_view group,
                                        std::string_view key) const override;
    void SetInt(std::string_view group, std::string_view key, std::uint32_t value) override;
    std::optional<std::string> GetString(std::string_view group,
                                         std::string_view key) const override;
    void SetString(std::string_view group, std::string_view key, std::string_view value) override;
    std::optional<std::vector<std::uint8_t>> GetBinary(std::string_view group,
                                                       std::string_view key) const override;
    void SetBinary(std::string_view group, std::string_view key,
                   const std::vector<std::uint8_t>& value) override;
    void RemoveGroup(std::string_view group) override;
    std::vector<std::string> ChildGroups(std::string_view group) const override;
    void Sync() override;

    QSettings& Raw() { return *m_settings; }

  private:
    QVariant value(std::string_view group, std::string_view key) const;
    void setValue(std::string_view group, std::string_view key, const QVariant& value);
    std::unique_ptr<QSettings> m_settings;
};
