#pragma once
// The process-wide application settings and the settings file.
//
// Two copies of the per-run values: the stored profile is what the file
// holds; the live profile is what the running program uses (a copy of the
// stored one after loading, then changed by the command line, the panels and
// the controller). SaveLiveValues decides whether the live profile replaces
// the stored one when the file is saved; the command line's one-off source
// clears it so that it never overwrites the remembered state.
//
// Threads: the GUI thread writes values; decoding and rendering threads read
// single values, which are held whole (atomic). The title switches and the
// portable-player cache have locks of their own.

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <QRectF>

#include "config/ExportTask.h"

struct StartOptions;

// A value read whole by other threads; copyable so that records holding it
// can be copied on the GUI thread.
template <class T>
class SettingValue {
public:
    SettingValue(T value = T{}) : m_value(value) {}
    SettingValue(const SettingValue& other) : m_value(other.load()) {}
    SettingValue& operator=(const SettingValue& other)
    {
        store(other.load());
        return *this;
    }
    SettingValue& operator=(T value)
    {
        store(value);
        return *this;
    }
    operator T() const { return load(); }
    T load() const { return m_value.load(std::memory_order_relaxed); }
    void store(T value) { m_value.store(value, std::memory_order_relaxed); }

private:
    std::atomic<T> m_value;
};

struct TitleSetting {
    bool Enabled = true;
    bool operator==(const TitleSetting&) const = default;
};

// Per-camera view settings; only the four ints are stored in the file.
struct CameraSettings {
    int32_t Lens = 0;
    int32_t Pos = 0;
    int32_t Display = 0;
    int32_t Rotation = 0;
    QRectF Circle;  // fisheye circle handed to the dewarping
};

using EmbeddedVideoKey = std::array<uint8_t, 16>;

// The per-run part of the settings. Source modes are the values of
// ISourceConfiguration::ESourceMode (0 archive drives, 1 exported folder,
// 2 one exported file, 3 plain media files).
struct SettingsProfile {
    SettingsProfile();

    std::map<int, std::vector<std::wstring>> VideoFolders;
    SettingValue<int> SourceMode;
    std::vector<std::wstring> Channels;
    std::wstring ExportFolder;
    SettingValue<bool> SourceNativeVideo{false};
    SettingValue<int32_t> FrameBufferForDecode{5};
    std::vector<Storage::ExportTask> ExportTasks;
    std::vector<int32_t> Layout;
    SettingValue<bool> TopMost{false};
    SettingValue<bool> SingleAppInstance{true};
    SettingValue<bool> ShowTitles{true};
    SettingValue<bool> ShowTracks{true};
    SettingValue<bool> ExportVideo{false};
    SettingValue<uint64_t> LastPosition{0};
    std::map<std::wstring, CameraSettings> CamSettings;

    // Replaces Channels and drops the camera settings of cameras not in it.
    void SetChannels(const std::vector<std::wstring>& channels);
};

class QApplicationSettings {
public:
    // Built on first use with the standard candidate files, which it loads
    // (and writes back); lives until the process ends and is never saved by
    // its destructor.
    static QApplicationSettings& Instance();

    // Defaults only: no candidate files, nothing loaded.
    QApplicationSettings();
    QApplicationSettings(const QApplicationSettings&) = delete;
    QApplicationSettings& operator=(const QApplicationSettings&) = delete;

    SettingValue<bool> PlayCycle{false};
    SettingValue<bool> Debug{false};
    SettingValue<bool> SkipFrames{true};
    SettingValue<int32_t> Render{1};  // 0 OpenGL, 1 Direct3D, other: null device
    SettingValue<bool> Deinterlacing{false};
    SettingValue<bool> Antialiasing{true};
    SettingValue<bool> Watermark{true};
    SettingValue<bool> ShowSourceBrowserButton{true};  // run-time only
    SettingValue<int32_t> DecoderThreadCount{1};        // run-time only
    SettingValue<int32_t> State{0};
    SettingValue<int32_t> WindowLeft{0};
    SettingValue<int32_t> WindowTop{0};
    SettingValue<int32_t> WindowWidth{0};
    SettingValue<int32_t> WindowHeight{0};
    SettingValue<int32_t> VideoSequenceItemViewMode{1};
    SettingsProfile Stored;
    SettingsProfile Live;
    SettingValue<int32_t> SoundVolume{100};
    SettingValue<bool> SaveLiveValues{true};
    std::string LastOpenedSource;
    SettingValue<uint64_t> LastOpenedPosition{0};
    SettingValue<bool> RememberVideoSource{true};
    std::wstring AppTitle;

    // The settings files, in order: the first usable one is loaded and every
    // one is written by Save.
    std::vector<std::wstring> CandidateFiles;
    // The executable's path with "xml" for its suffix, and the data folder's
    // "<base name>.xml".
    static std::vector<std::wstring> DefaultCandidates();

    // Reads the first candidate that can be read and written back; the live
    // profile becomes a copy of the stored one. A candidate that is there but
    // does not load is renamed to "<name>.bad" (and logged), so that it
    // cannot fail every later start; its values are not taken.
    void Load();
    // One line for each candidate that Load set aside. The start-up logs
    // them: the first loading runs before the logger's level is set.
    std::vector<std::string> LoadNotes;
    // Live -> stored profile when SaveLiveValues is set, then every candidate.
    void Save();
    // Writes the file through a temporary file renamed over it; false on any
    // error (the old file stays).
    bool SaveToFile(const std::wstring& path);
    // Reads one file into this object; throws on any error, and then no
    // value of the file is taken. Exposed for tests and Load.
    void ReadFile(const std::wstring& path);

    // Command-line overrides of the live profile.
    void ApplyStartOptions(const StartOptions& options);
    // The live profile's paths of its source mode joined with "|".
    std::string GetSourcePaths();

    bool GetTitleEnabled(int channel, int title, bool defaultValue);
    void SetTitleEnabled(int channel, int title, bool enabled);
    std::vector<std::vector<TitleSetting>> GetTitlesSettings() const;
    void SetTitlesSettings(std::vector<std::vector<TitleSetting>> settings);

    // Portable players. FileContainVideo searches the first 50 MiB of a file
    // for the marker; GetEmbeddedVideo checks the parent process's executable
    // (or `executable` resolved against it) once per process and caches the
    // answer.
    static bool FileContainVideo(const std::string& path, int64_t& offset, EmbeddedVideoKey& key, bool pathIsAnsi);
    bool GetEmbeddedVideo(int64_t& offset, EmbeddedVideoKey& key, const std::string& executable);
    EmbeddedVideoKey GetEmbeddedVideoKey();
    // The file whose carried video the check found (the parent process's
    // executable, or the `executable` option resolved against it); empty
    // before the check and when it found none. Playback opens this file,
    // never the parent process as such, which may be the shell that started
    // the program.
    std::string GetEmbeddedVideoPath();
    // Replaces the parent process's path for the portable check (tests).
    void SetParentPathForCheck(std::string path);

    template <class Archive>
    void serialize(Archive& ar, unsigned version);

private:
    std::vector<TitleSetting>& Entry(int channel, int title, bool defaultValue);
    // Reads the registry value "FFTHREADCOUNT"; 1 when absent.
    static int32_t ReadDecoderThreadCount();

    mutable std::mutex m_titlesLock;
    std::vector<std::vector<TitleSetting>> m_titlesSettings;

    std::mutex m_embeddedLock;
    bool m_embeddedChecked = false;
    int64_t m_embeddedOffset = 0;
    EmbeddedVideoKey m_embeddedKey{};
    std::string m_embeddedPath;
    std::string m_parentPathOverride;
    bool m_hasParentPathOverride = false;
};

// Portable players carry their video behind this 54-byte marker and a
// 16-byte key (all zero, or the MD5 of the password's UTF-8 bytes).
inline constexpr char kEmbeddedVideoMarker[] = "GAVEX_NEXT_VIDEO{8F804080-93E9-4EE5-B9DB-47127EB61F32}";
inline constexpr size_t kEmbeddedVideoMarkerSize = sizeof(kEmbeddedVideoMarker) - 1;
inline constexpr int64_t kEmbeddedVideoSearchWindow = 52428800;

// The portable player named by the `executable` option: against the current
// folder when the parent is a shell ("cmd.exe" or a POSIX shell), else
// against the parent's folder. An absolute executable is used as given.
std::string ResolvePortablePath(const std::string& parentPath, const std::string& executable);
// Copies the video from offset to the end of sourcePath into destination
// (relative destinations are taken as given: against the current folder).
// Writes a temporary file beside the destination, checks every write and
// renames it in; never writes over the source. Returns false on any failure.
bool ExtractEmbeddedVideo(const std::string& sourcePath, int64_t offset, const std::string& destination);

// Folder helpers; folders end in "/".
std::wstring GetDataLocation();       // the user's data folder (XDG data home)
std::wstring GetDocumentsLocation();  // the user's documents folder
std::wstring DataSubfolder();         // "GavexSoft/GavexPlayer/"
std::wstring ExportSubfolder();
std::wstring ScreenshotsSubfolder();
