#include "shell/qt/qsettings_store.h"

#include "shell/settings_keys.h"

namespace {
QString toQ(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
QString path(std::string_view group, std::string_view key) {
    return toQ(group) + "/" + toQ(key);
}
}  // namespace

QSettingsStore::QSettingsStore()
    : m_settings(std::make_unique<QSettings>(keys::kCompany, keys::kApplication)) {}

QSettingsStore::QSettingsStore(const QString& iniPath)
    : m_settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat)) {}

QVariant QSettingsStore::value(std::string_view group, std::string_view key) const {
    return m_settings->value(path(group, key));
}

void QSettingsStore::setValue(std::string_view group, std::string_view key, const QVariant& v) {
    m_settings->setValue(path(group, key), v);
}

std::optional<std::uint32_t> QSettingsStore::GetInt(std::string_view group,
                                                    std::string_view key) const {
    QVariant v = value(group, key);
    if (!v.isValid()) return std::nullopt;
    bool ok = false;
    // Integers are read as unsigned 32-bit, whatever wrote them (a negative
    // 32-bit value is taken as its two's complement); a value outside 32 bits
    // is refused rather than cut to its low bits.
    qlonglong n = v.toLongLong(&ok);
    if (!ok || n < INT32_MIN || n > static_cast<qlonglong>(UINT32_MAX)) return std::nullopt;
    return static_cast<std::uint32_t>(n);
}

void QSettingsStore::SetInt(std::string_view group, std::string_view key, std::uint32_t value) {
    setValue(group, key, static_cast<qulonglong>(value));
}

std::optional<std::string> QSettingsStore::GetString(std::string_view group,
                                                     std::string_view key) const {
    QVariant v = value(group, key);
    if (!v.isValid()) return std::nullopt;
    return v.toString().toStdString();
}

void QSettingsStore::SetString(std::string_view group, std::string_view key,
                               std::string_view value) {
    setValue(group, key, toQ(value));
}

std::optional<std::vector<std::uint8_t>> QSettingsStore::GetBinary(std::string_view group,
                                                                   std::string_view key) const {
    QVariant v = value(group, key);
    if (!v.isValid() || v.typeId() != QMetaType::QByteArray) return std::nullopt;
    QByteArray bytes = v.toByteArray();
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

void QSettingsStore::SetBinary(std::string_view group, std::string_view key,
                               const std::vector<std::uint8_t>& value) {
    setValue(group, key,
             QByteArray(reinterpret_cast<const char*>(value.data()),
                        static_cast<qsizetype>(value.size())));
}

void QSettingsStore::RemoveGroup(std::string_view group) {
    m_settings->remove(toQ(group));
}

std::vector<std::string> QSettingsStore::ChildGroups(std::string_view group) const {
    m_settings->beginGroup(toQ(group));
    QStringList names = m_settings->childGroups();
    m_settings->endGroup();
    std::vector<std::string> out;
    for (const QString& name : names)
        out.push_back(name.toStdString());
    return out;
}

void QSettingsStore::Sync() {
    m_settings->sync();
}
