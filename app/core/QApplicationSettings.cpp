#include "app/core/QApplicationSettings.h"

#include <stdexcept>

QApplicationSettings& QApplicationSettings::Instance()
{
    static QApplicationSettings settings;
    return settings;
}

std::vector<TitleSetting>& QApplicationSettings::Entry(int channel, int title, bool defaultValue)
{
    if (channel < 0 || title < 0)
        throw std::out_of_range("negative channel or title index");
    if (m_titlesSettings.size() <= static_cast<size_t>(channel))
        m_titlesSettings.resize(static_cast<size_t>(channel) + 1);
    std::vector<TitleSetting>& row = m_titlesSettings[static_cast<size_t>(channel)];
    if (row.size() <= static_cast<size_t>(title))
        row.resize(static_cast<size_t>(title) + 1, TitleSetting{defaultValue});
    return row;
}

bool QApplicationSettings::GetTitleEnabled(int channel, int title, bool defaultValue)
{
    std::lock_guard<std::mutex> lock(m_titlesLock);
    return Entry(channel, title, defaultValue)[static_cast<size_t>(title)].Enabled;
}

void QApplicationSettings::SetTitleEnabled(int channel, int title, bool enabled)
{
    std::lock_guard<std::mutex> lock(m_titlesLock);
    Entry(channel, title, enabled)[static_cast<size_t>(title)].Enabled = enabled;
}

std::vector<std::vector<TitleSetting>> QApplicationSettings::GetTitlesSettings() const
{
    std::lock_guard<std::mutex> lock(m_titlesLock);
    return m_titlesSettings;
}
