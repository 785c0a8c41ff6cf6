#pragma once
// The process-wide application settings, as far as the layers below the
// application read them: the frame smoothing switch and the per-channel title
// switches. Values start at their defaults; loading and saving the settings
// file belong to the application's start-up.
//
// Threads: the GUI thread writes values, decoding and rendering threads read
// single values, which are atomic; the title switches have a lock of their own.

#include <atomic>
#include <mutex>
#include <vector>

struct TitleSetting {
    bool Enabled = true;
};

class QApplicationSettings {
public:
    // Built on first use; lives until the process ends.
    static QApplicationSettings& Instance();

    QApplicationSettings() = default;
    QApplicationSettings(const QApplicationSettings&) = delete;
    QApplicationSettings& operator=(const QApplicationSettings&) = delete;

    // Smooth (filtered) scaling of frames.
    std::atomic<bool> Antialiasing{true};

    // Whether title `title` of channel `channel` is shown. A missing switch is
    // created with defaultValue (rows and entries grow as needed), so the
    // first answer for a title decides it until the user changes it.
    bool GetTitleEnabled(int channel, int title, bool defaultValue);
    void SetTitleEnabled(int channel, int title, bool enabled);
    // A copy of every switch, by channel and title.
    std::vector<std::vector<TitleSetting>> GetTitlesSettings() const;

private:
    std::vector<TitleSetting>& Entry(int channel, int title, bool defaultValue);

    mutable std::mutex m_titlesLock;
    std::vector<std::vector<TitleSetting>> m_titlesSettings;
};
