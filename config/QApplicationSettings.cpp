#include "config/QApplicationSettings.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <boost/archive/xml_wiarchive.hpp>
#include <boost/archive/xml_woarchive.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/date_time/posix_time/time_serialize.hpp>
#include <boost/filesystem.hpp>
#include <boost/format.hpp>
#include <boost/serialization/map.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/utility.hpp>
#include <boost/serialization/vector.hpp>
#include <boost/serialization/version.hpp>

#include "FSImplementation/FSInfo.h"
#include "FSImplementation/VindaraFileSystemFactory.h"
#include "config/ApplicationTexts.h"
#include "config/QOemSettings.h"
#include "config/StartOptions.h"
#include "base/Log.h"
#include "base/MiniDumper.h"
#include "base/ParentProcess.h"
#include "base/Registry.h"
#include "base/StringConv.h"

BOOST_CLASS_VERSION(QApplicationSettings, 2)
BOOST_CLASS_VERSION(Storage::ExportTask, 0)
BOOST_CLASS_VERSION(CameraSettings, 0)
BOOST_CLASS_VERSION(TitleSetting, 0)

namespace {

const std::wstring kDocumentsPlaceholder = L"%USER_DOCUMENTS_PATH%";

void ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to)
{
    if (from.empty())
        return;
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// The file holds narrow texts as characters; they go through the wide form
// so that UTF-8 bytes come back unchanged whatever the C locale.
template <class Archive>
void NarrowText(Archive& ar, const char* name, std::string& text)
{
    std::wstring wide = StringToWString(text);
    ar& boost::serialization::make_nvp(name, wide);
    if constexpr (Archive::is_loading::value)
        text = WStringToString(wide);
}

template <class Archive, class T>
void Whole(Archive& ar, const char* name, SettingValue<T>& value)
{
    T plain = value.load();
    ar& boost::serialization::make_nvp(name, plain);
    if constexpr (Archive::is_loading::value)
        value.store(plain);
}

std::wstring WithSlash(QString folder)
{
    if (folder.isEmpty())
        return {};
    if (!folder.endsWith('/'))
        folder += '/';
    return folder.toStdWString();
}

std::string ExecutablePath()
{
    if (QCoreApplication::instance() != nullptr)
        return QCoreApplication::applicationFilePath().toStdString();
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error).string();
}

}  // namespace

namespace boost::serialization {

template <class Archive>
void serialize(Archive& ar, Storage::ExportTask& task, unsigned /*version*/)
{
    std::vector<std::wstring> ids = StringVectorToWStringVector(task.ChannelIds);
    ar& make_nvp("ChannelIds", ids);
    if constexpr (Archive::is_loading::value)
        task.ChannelIds = WStringVectorToStringVector(ids);
    ar& make_nvp("FromTime", task.FromTime);
    ar& make_nvp("ToTime", task.ToTime);
    NarrowText(ar, "PrefixFileName", task.PrefixFileName);
    NarrowText(ar, "OutputContainer", task.OutputContainer);
}

template <class Archive>
void serialize(Archive& ar, CameraSettings& camera, unsigned /*version*/)
{
    ar& make_nvp("Lens", camera.Lens);
    ar& make_nvp("Pos", camera.Pos);
    ar& make_nvp("Display", camera.Display);
    ar& make_nvp("Rotation", camera.Rotation);
}

template <class Archive>
void serialize(Archive& ar, TitleSetting& title, unsigned /*version*/)
{
    ar& make_nvp("Enabled", title.Enabled);
}

}  // namespace boost::serialization

namespace {
// Set while Load writes a file back: the values just read are kept rather
// than refreshed from a live profile that still holds its defaults.
thread_local bool t_keepOpenedValues = false;
}  // namespace

template <class Archive>
void QApplicationSettings::serialize(Archive& ar, unsigned version)
{
    using boost::serialization::make_nvp;
    constexpr bool loading = Archive::is_loading::value;
    Whole(ar, "PlayCycle", PlayCycle);
    ar& make_nvp("VideoFolders", Stored.VideoFolders);
    ar& make_nvp("Channels", Stored.Channels);
    Whole(ar, "WindowLeft", WindowLeft);
    Whole(ar, "WindowTop", WindowTop);
    Whole(ar, "WindowWidth", WindowWidth);
    Whole(ar, "WindowHeight", WindowHeight);
    Whole(ar, "State", State);
    Whole(ar, "Debug", Debug);
    Whole(ar, "SourceMode", Stored.SourceMode);
    Whole(ar, "VideoSequenceItemViewMode", VideoSequenceItemViewMode);
    Whole(ar, "SkipFrames", SkipFrames);
    Whole(ar, "Render", Render);
    if (version >= 2)
        Whole(ar, "Antialiasing", Antialiasing);
    ar& make_nvp("ExportFolder", Stored.ExportFolder);
    ar& make_nvp("ExportTasks", Stored.ExportTasks);
    Whole(ar, "LastPosition", Stored.LastPosition);
    Whole(ar, "Deinterlacing", Deinterlacing);
    Whole(ar, "Watermark", Watermark);
    ar& make_nvp("Layout", Stored.Layout);
    Whole(ar, "TopMost", Stored.TopMost);
    Whole(ar, "SingleAppInstance", Stored.SingleAppInstance);
    Whole(ar, "ShowTitles", Stored.ShowTitles);
    Whole(ar, "ShowTracks", Stored.ShowTracks);
    Whole(ar, "ExportVideo", Stored.ExportVideo);
    Whole(ar, "SourceNativeVideo", Stored.SourceNativeVideo);
    Whole(ar, "SoundVolume", SoundVolume);
    Whole(ar, "RememberVideoSource", RememberVideoSource);
    SoundVolume = std::clamp<int32_t>(SoundVolume, 0, 100);
    if (!loading && !t_keepOpenedValues) {
        LastOpenedPosition = Live.LastPosition.load();
        LastOpenedSource = GetSourcePaths();
    }
    Whole(ar, "LastOpenedPosition", LastOpenedPosition);
    NarrowText(ar, "LastOpenedSource", LastOpenedSource);
    ar& make_nvp("AppTitle", AppTitle);
    {
        std::lock_guard<std::mutex> lock(m_titlesLock);
        ar& make_nvp("TitlesSettings", m_titlesSettings);
    }
    if (version >= 1)
        ar& make_nvp("CamSettings", Stored.CamSettings);
    Whole(ar, "FrameBufferForDecode", Stored.FrameBufferForDecode);
}

SettingsProfile::SettingsProfile() : SourceMode(QOemSettings::Instance().ShowAllVideoSource ? 1 : 2) {}

void SettingsProfile::SetChannels(const std::vector<std::wstring>& channels)
{
    Channels = channels;
    for (auto it = CamSettings.begin(); it != CamSettings.end();) {
        if (std::find(Channels.begin(), Channels.end(), it->first) == Channels.end())
            it = CamSettings.erase(it);
        else
            ++it;
    }
}

QApplicationSettings::QApplicationSettings() : DecoderThreadCount(ReadDecoderThreadCount()) {}

int32_t QApplicationSettings::ReadDecoderThreadCount()
{
    static const int32_t count = [] {
        RegistryKey key("SOFTWARE\\QOR\\Vindara\\Video", false, RegistryKey::kRead);
        const int32_t value = key.IsOpen() ? key.ReadInt("FFTHREADCOUNT", 1) : 1;
        return value > 0 ? value : 1;
    }();
    return count;
}

QApplicationSettings& QApplicationSettings::Instance()
{
    static QApplicationSettings* settings = [] {
        static QApplicationSettings object;
        object.CandidateFiles = DefaultCandidates();
        object.Load();
        return &object;
    }();
    return *settings;
}

std::vector<std::wstring> QApplicationSettings::DefaultCandidates()
{
    std::vector<std::wstring> candidates;
    const QString exe = QString::fromStdString(ExecutablePath());
    const QFileInfo info(exe);
    QString first = exe;
    const int dot = first.lastIndexOf('.');
    if (dot > first.lastIndexOf('/'))
        first.truncate(dot);
    candidates.push_back((first + ".xml").toStdWString());

    const std::wstring dataFolder = (boost::wformat(L"%1%/%2%") % GetDataLocation() % DataSubfolder()).str();
    const std::string dumps = WStringToString(dataFolder);
    getDefaultDebugInstance()->Message("Path for minidumps: %s", dumps.c_str());
    SetMiniDumpDirectory(dumps.c_str());
    boost::system::error_code error;
    boost::filesystem::create_directories(boost::filesystem::path(dumps), error);
    candidates.push_back(
        (boost::wformat(L"%1%/%2%.%3%") % dataFolder % info.baseName().toStdWString() % L"xml").str());
    return candidates;
}

namespace {

// The file could not be opened or read: it is left where it is.
struct SettingsFileNotRead : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::wstring Trimmed(const std::wstring& text)
{
    const size_t first = text.find_first_not_of(L" \t\r\n");
    if (first == std::wstring::npos)
        return {};
    return text.substr(first, text.find_last_not_of(L" \t\r\n") - first + 1);
}

void ReadSettingsText(const std::wstring& text, QApplicationSettings& settings)
{
    std::wistringstream stream(text);
    boost::archive::xml_wiarchive archive(stream);
    archive >> boost::serialization::make_nvp("Settings", settings);
    // The archive reads its closing tag in its destructor, where running
    // out of text throws and so ends the process: a file cut short after
    // its last value is refused here, while an exception still unwinds.
    const std::streamoff at = stream.tellg();
    if (at < 0 || Trimmed(text.substr(static_cast<size_t>(at))) != L"</boost_serialization>")
        throw std::runtime_error("the file ends before its closing tag");
}

}  // namespace

void QApplicationSettings::ReadFile(const std::wstring& path)
{
    std::ifstream file(WStringToString(path), std::ios::binary);
    if (!file)
        throw SettingsFileNotRead("cannot open " + WStringToString(path));
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad())
        throw SettingsFileNotRead("cannot read " + WStringToString(path));
    std::wstring text = QString::fromUtf8(bytes.data(), static_cast<int>(bytes.size())).toStdWString();
    // A file of a later version is read like the current one: the archive
    // itself refuses class versions it does not know.
    static const std::wregex later(LR"((<Settings class_id="0" tracking_level="0" version=")(\d+)("))");
    std::wsmatch match;
    if (std::regex_search(text, match, later) && std::stoul(match[2].str()) > 2)
        text.replace(static_cast<size_t>(match.position(2)), static_cast<size_t>(match.length(2)), L"2");
    // Read whole into a scratch object first: a file that fails part way
    // leaves none of its values behind. The second reading of the same text
    // cannot fail.
    {
        QApplicationSettings scratch;
        ReadSettingsText(text, scratch);
    }
    ReadSettingsText(text, *this);
}

void QApplicationSettings::Load()
{
    for (const std::wstring& path : CandidateFiles) {
        try {
            ReadFile(path);
        } catch (const SettingsFileNotRead&) {
            continue;
        } catch (const std::exception& e) {
            // A damaged file would fail at every start: it is set aside
            // (kept for a look) and the next candidate or the defaults serve.
            const std::string damaged = WStringToString(path);
            const std::string aside = damaged + ".bad";
            if (std::rename(damaged.c_str(), aside.c_str()) == 0)
                LoadNotes.push_back((boost::format("Settings file '%1%' does not load (%2%); set aside as '%3%'.") %
                                     damaged % e.what() % aside)
                                        .str());
            else
                LoadNotes.push_back(
                    (boost::format("Settings file '%1%' does not load (%2%) and cannot be set aside.") % damaged %
                     e.what())
                        .str());
            continue;
        }
        t_keepOpenedValues = true;
        const bool written = SaveToFile(path);
        t_keepOpenedValues = false;
        if (written)
            break;
    }
    if (Stored.ExportFolder.empty())
        Stored.ExportFolder = (boost::wformat(L"%1%/%2%") % kDocumentsPlaceholder % ScreenshotsSubfolder()).str();
    ReplaceAll(Stored.ExportFolder, kDocumentsPlaceholder, GetDocumentsLocation());
    Live = Stored;
    SaveLiveValues = true;
}

void QApplicationSettings::Save()
{
    if (SaveLiveValues)
        Stored = Live;
    for (const std::wstring& path : CandidateFiles)
        SaveToFile(path);
}

bool QApplicationSettings::SaveToFile(const std::wstring& path)
{
    const std::string target = WStringToString(path);
    const std::string temporary = target + ".tmp";
    ReplaceAll(Stored.ExportFolder, GetDocumentsLocation(), kDocumentsPlaceholder);
    try {
        {
            std::wofstream stream(temporary, std::ios::trunc);
            if (!stream)
                return false;
            {
                boost::archive::xml_woarchive archive(stream);
                archive << boost::serialization::make_nvp("Settings", *this);
            }
            stream.close();
            if (!stream)
                throw std::runtime_error("write failed");
        }
        if (std::rename(temporary.c_str(), target.c_str()) != 0)
            throw std::runtime_error("rename failed");
        return true;
    } catch (const std::exception&) {
        std::remove(temporary.c_str());
        return false;
    }
}

void QApplicationSettings::ApplyStartOptions(const StartOptions& options)
{
    if (!options.source.empty()) {
        const std::vector<std::string> paths = Storage::FSInfo::splitPaths(options.source);
        if (!paths.empty()) {
            // A path that cannot be examined keeps the previous mode.
            const Storage::FileSystemType type = Storage::GetFileSystemType(paths.front());
            const int mode = static_cast<int>(type);
            if (mode >= 0 && mode <= 2)
                Live.SourceMode = mode;
        }
        Live.VideoFolders[Live.SourceMode] = StringVectorToWStringVector(paths);
        Live.SetChannels(StringVectorToWStringVector(options.channels));
        SaveLiveValues = false;
        if (options.time.is_special()) {
            Live.LastPosition = options.source == LastOpenedSource ? LastOpenedPosition.load() : 0;
        } else {
            const boost::posix_time::ptime epoch(boost::gregorian::date(1970, 1, 1));
            Live.LastPosition = static_cast<uint64_t>((options.time - epoch).total_microseconds() / 1000);
        }
    }
    if (!options.destination.empty()) {
        Live.ExportFolder = StringToWString(options.destination);
        Storage::ExportTask task;
        task.row = 0;
        task.ChannelIds = options.channels;
        task.FromTime = options.from;
        task.ToTime = options.to;
        Live.ExportTasks = {task};
    }
    if (options.topmost != -1)
        Live.TopMost = options.topmost == 1;
    if (options.single != -1)
        Live.SingleAppInstance = options.single == 1;
    if (options.titles != -1)
        Live.ShowTitles = options.titles == 1;
}

std::string QApplicationSettings::GetSourcePaths()
{
    return Storage::FSInfo::joinPaths(WStringVectorToStringVector(Live.VideoFolders[Live.SourceMode]));
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

void QApplicationSettings::SetTitlesSettings(std::vector<std::vector<TitleSetting>> settings)
{
    std::lock_guard<std::mutex> lock(m_titlesLock);
    m_titlesSettings = std::move(settings);
}

// --- portable players ---

bool QApplicationSettings::FileContainVideo(const std::string& path, int64_t& offset, EmbeddedVideoKey& key,
                                            bool /*pathIsAnsi: narrow paths are UTF-8 here*/)
{
    offset = 0;
    key.fill(0);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
            const int64_t fileSize = st.st_size;
            const size_t window = static_cast<size_t>(std::min<int64_t>(fileSize, kEmbeddedVideoSearchWindow));
            void* mapped = ::mmap(nullptr, window, PROT_READ, MAP_PRIVATE, fd, 0);
            if (mapped != MAP_FAILED) {
                const auto* bytes = static_cast<const uint8_t*>(mapped);
                // The first whole marker in the window; a later one would end
                // still nearer the file's end, so only the first can be
                // followed by its key.
                const void* found = ::memmem(bytes, window, kEmbeddedVideoMarker, kEmbeddedVideoMarkerSize);
                if (found != nullptr) {
                    const size_t i = static_cast<size_t>(static_cast<const uint8_t*>(found) - bytes) +
                                     kEmbeddedVideoMarkerSize - 1;
                    const int64_t end = static_cast<int64_t>(i);
                    if (end + 17 < fileSize) {
                        // A key beyond the mapped window is read from the file.
                        if (i + 17 <= window) {
                            std::memcpy(key.data(), bytes + i + 1, key.size());
                            offset = end + 17;
                        } else if (::pread(fd, key.data(), key.size(), end + 1) ==
                                   static_cast<ssize_t>(key.size())) {
                            offset = end + 17;
                        } else {
                            key.fill(0);
                        }
                    }
                }
                ::munmap(mapped, window);
            }
        }
        ::close(fd);
    }
    if (offset > 0)
        qDebug().noquote() << QString::fromStdString(
            (boost::format("File '%1%' contains video at %2%") % path % offset).str());
    else
        qDebug().noquote() << QString::fromStdString((boost::format("File '%1%' does not contain video") % path).str());
    return offset > 0;
}

void QApplicationSettings::SetParentPathForCheck(std::string path)
{
    std::lock_guard<std::mutex> lock(m_embeddedLock);
    m_parentPathOverride = std::move(path);
    m_hasParentPathOverride = true;
    m_embeddedChecked = false;
}

bool QApplicationSettings::GetEmbeddedVideo(int64_t& offset, EmbeddedVideoKey& key, const std::string& executable)
{
    std::lock_guard<std::mutex> lock(m_embeddedLock);
    if (!m_embeddedChecked) {
        std::string path = m_hasParentPathOverride ? m_parentPathOverride : GetParentProcessPath();
        if (!executable.empty())
            path = ResolvePortablePath(path, executable);
        m_embeddedPath.clear();
        if (path.empty()) {
            m_embeddedOffset = 0;
            m_embeddedKey.fill(0);
        } else if (FileContainVideo(path, m_embeddedOffset, m_embeddedKey, !executable.empty())) {
            m_embeddedPath = path;
        }
        m_embeddedChecked = true;
    }
    offset = m_embeddedOffset;
    key = m_embeddedKey;
    return m_embeddedOffset != 0;
}

EmbeddedVideoKey QApplicationSettings::GetEmbeddedVideoKey()
{
    std::lock_guard<std::mutex> lock(m_embeddedLock);
    return m_embeddedKey;
}

std::string QApplicationSettings::GetEmbeddedVideoPath()
{
    std::lock_guard<std::mutex> lock(m_embeddedLock);
    return m_embeddedPath;
}

std::string ResolvePortablePath(const std::string& parentPath, const std::string& executable)
{
    if (QFileInfo(QString::fromStdString(executable)).isAbsolute())
        return executable;
    const QString parentName = QFileInfo(QString::fromUtf8(parentPath.c_str())).fileName();
    static const QStringList shells = {"cmd.exe", "sh", "bash", "dash", "zsh", "ksh", "fish", "tcsh", "csh"};
    if (shells.contains(parentName))
        return QFileInfo(QString::fromLocal8Bit(executable.c_str())).absoluteFilePath().toLocal8Bit().toStdString();
    const size_t slash = parentPath.find_last_of('/');
    if (slash != std::string::npos)
        return parentPath.substr(0, slash) + "/" + executable;
    return parentPath;
}

bool ExtractEmbeddedVideo(const std::string& sourcePath, int64_t offset, const std::string& destination)
{
    if (offset <= 0 || destination.empty())
        return false;
    const QFileInfo sourceInfo(QString::fromStdString(sourcePath));
    // A relative destination is placed beside the portable player.
    QFileInfo target(QString::fromStdString(destination));
    if (target.isRelative())
        target = QFileInfo(QDir(sourceInfo.absolutePath()), QString::fromStdString(destination));
    const std::string targetPath = target.absoluteFilePath().toStdString();
    if (QFileInfo(QString::fromStdString(targetPath)).canonicalFilePath() == sourceInfo.canonicalFilePath())
        return false;
    std::FILE* source = std::fopen(sourcePath.c_str(), "rb");
    if (source == nullptr)
        return false;
    if (fseeko(source, offset, SEEK_SET) != 0) {
        std::fclose(source);
        return false;
    }
    const std::string temporary = targetPath + ".part";
    std::FILE* output = std::fopen(temporary.c_str(), "wb");
    if (output == nullptr) {
        std::fclose(source);
        return false;
    }
    std::vector<char> buffer(5242880);
    bool ok = true;
    for (;;) {
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), source);
        if (got > 0 && std::fwrite(buffer.data(), 1, got, output) != got) {
            ok = false;
            break;
        }
        if (got < buffer.size()) {
            ok = std::ferror(source) == 0;
            break;
        }
    }
    std::fclose(source);
    if (std::fclose(output) != 0)
        ok = false;
    if (ok && std::rename(temporary.c_str(), targetPath.c_str()) != 0)
        ok = false;
    if (!ok)
        std::remove(temporary.c_str());
    return ok;
}

// --- folders ---

std::wstring GetDataLocation()
{
    return WithSlash(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
}

std::wstring GetDocumentsLocation()
{
    return WithSlash(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
}

std::wstring DataSubfolder()
{
    return CompanyProductPath().toStdWString() + L"/";
}

std::wstring ExportSubfolder()
{
    return DataSubfolder() + L"Export/";
}

std::wstring ScreenshotsSubfolder()
{
    return ExportSubfolder() + L"Screenshots/";
}
