#include "media/SourceConfiguration.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <future>
#include <system_error>
#include <thread>

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <boost/algorithm/string/split.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/format.hpp>

#include "FSImplementation/VindaraFileSystemFactory.h"
#include "base/Log.h"
#include "base/ModuleDir.h"
#include "media/DecompressedVideoSource.h"
#include "config/QApplicationSettings.h"
#include "media/MediaFileVideoSource.h"
#include "media/Subtitles.h"
#include "platform/TextCodec.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace pt = boost::posix_time;

QorLog::CDebug* Log()
{
    return getDefaultDebugInstance();
}

// The checker's shared secret.
const char kCheckerSecret[] = "QUILTFERNMOSSGLADEBRIDGE";

// Runs the checker with its output discarded; true when it exits with 0
// within the limit. One still running then is killed.
bool RunChecker(const std::vector<std::string>& args, int timeoutMs)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (done < 0 && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Everything before the last '.' of the file name (all of it without one).
std::string CompleteBaseName(const fs::path& path)
{
    const std::string name = path.filename().string();
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

int64_t FirstStart(const MediaFileRecord& record)
{
    const auto& periods = record.converter.GetArchivePeriods();
    return periods.empty() ? 0 : periods.front().start;
}

bool CompareRecordsByStart(const MediaFileRecord& a, const MediaFileRecord& b)
{
    return FirstStart(a) < FirstStart(b);
}

}  // namespace

int ClassifySourceFile(const QFileInfo& file)
{
    return ClassifySourcePath(QFile::encodeName(file.filePath()).toStdString());
}

int ClassifySourcePath(const std::string& path)
{
    std::error_code error;
    if (path.empty() || !fs::is_regular_file(path, error))
        return CLASSIFY_OTHER;
    std::string suffix;
    const std::string name = fs::path(path).filename().string();
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        suffix = name.substr(dot + 1);
    for (char& c : suffix)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* media : {"AVI", "MKV", "MP4", "ASF", "FLV", "MOV"})
        if (suffix == media)
            return CLASSIFY_MEDIA;
    return suffix == "SRT" ? CLASSIFY_SUBTITLES : CLASSIFY_OTHER;
}

bool CheckSigned(const QFileInfo& file, const SignatureCheck& check)
{
    return CheckSignedPath(QFile::encodeName(file.absoluteFilePath()).toStdString(), check);
}

bool CheckSignedPath(const std::string& path, const SignatureCheck& check)
{
    const std::string folder = check.programFolder.empty() ? misc_GetModuleDir() : check.programFolder;
    std::string checker;
    for (const std::string& candidate : {folder + "/watermark", folder + "/../Modules/watermark"}) {
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) {
            checker = fs::absolute(candidate, error).lexically_normal().string();
            break;
        }
    }
    if (checker.empty())
        return false;

    const std::string command = "\"" + checker + "\" -S " + kCheckerSecret + " -V -v \"" + path + "\"";
    const bool result = RunChecker({checker, "-S", kCheckerSecret, "-V", "-v", path}, check.timeoutMs);
    qDebug().noquote() << QString::fromStdString(
        (boost::format("CheckSigned command = '%1%'. Result = %2%.") % command % (result ? "true" : "false")).str());
    return result;
}

namespace {

// Why one path gave nothing, as far as the file system tells.
std::string EmptyPathReason(const std::string& path, ISourceConfiguration::ESourceMode mode)
{
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error) {
        if (error == std::errc::no_such_file_or_directory)
            return "the path does not exist";
        return "the path cannot be read (" + error.message() + ")";
    }
    const bool archiveOnly = mode == ISourceConfiguration::DRIVES || mode == ISourceConfiguration::FOLDER;
    if (fs::is_directory(status)) {
        fs::directory_iterator probe(path, error);
        if (error)
            return "the folder cannot be read (" + error.message() + ")";
        if (!archiveOnly) {
            for (auto it = fs::recursive_directory_iterator(path, fs::directory_options::skip_permission_denied, error);
                 !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
                std::error_code kind;
                if (it->is_regular_file(kind) && ClassifySourcePath(it->path().string()) == CLASSIFY_MEDIA)
                    return "no media file in the folder can be opened";
            }
        }
        return archiveOnly ? "no archive was found in the folder" : "no archive or media file was found in the folder";
    }
    if (::access(path.c_str(), R_OK) != 0)
        return std::string("the file cannot be read (") + std::strerror(errno) + ")";
    if (ClassifySourcePath(path) == CLASSIFY_MEDIA)
        return "the media file cannot be opened";
    return "the file is neither an archive file nor a media file";
}

}  // namespace

std::string DescribeEmptySource(const std::string& paths, ISourceConfiguration::ESourceMode mode)
{
    std::vector<std::string> items;
    boost::split(items, paths, [](char c) { return c == '|'; });
    for (const std::string& path : items)
        if (!path.empty())
            return "No video from \"" + path + "\": " + EmptyPathReason(path, mode) + ".";
    return {};
}

std::string SourceConfiguration::DescribeNoVideo()
{
    if (m_fileSystem) {
        std::vector<std::string> ids;
        m_fileSystem->GetChannels(ids);
        if (!ids.empty())
            return "No video from \"" + m_paths + "\": none of the chosen channels is recorded there.";
    }
    return DescribeEmptySource(m_paths, GetSourceMode());
}

SourceConfiguration::SourceConfiguration() = default;

SourceConfiguration::SourceConfiguration(const StartOptions& options)
{
    m_applyChannelFilter = true;
    QApplicationSettings& settings = QApplicationSettings::Instance();
    std::string paths;
    if (!options.portable && (!settings.SaveLiveValues || settings.RememberVideoSource))
        paths = settings.GetSourcePaths();
    Setup(paths, static_cast<ESourceMode>(settings.Live.SourceMode.load()), options);
    if (m_fileSystem)
        m_fileSystem->Initialize(false);
}

SourceConfiguration::~SourceConfiguration() = default;

void SourceConfiguration::SetupWithDefaults(const std::string& paths, ESourceMode mode)
{
    Setup(paths, mode, StartOptions{});
}

void SourceConfiguration::Setup(const std::string& paths, ESourceMode mode, const StartOptions& options)
{
    m_videoSources.clear();
    m_fileSystem.reset();
    m_paths = paths;
    qDebug().noquote() << QString::fromStdString(
        (boost::format("SourceConfiguration::Setup m_pathes = '%1%', mode = %2%.") % m_paths % static_cast<int>(mode))
            .str());
    m_exportAllowed = true;
    if (mode == SINGLE_FILE && ClassifySourcePath(m_paths) == CLASSIFY_MEDIA) {
        const QString suffix = QFileInfo(QString::fromStdString(m_paths)).suffix().toUpper();
        m_exportAllowed = suffix == "AVI" || suffix == "MKV" || suffix == "EXE";
        return;
    }
    if (mode == AVI_FILES) {
        m_exportAllowed = false;
        return;
    }
    m_fileSystem = Storage::CreateVindaraFileSystem(m_paths);
    if (!m_fileSystem) {
        QOR_LOG_ERROR(Log(), "Failed to create filesystem (mode != AVI_FILES)");
        return;
    }
    Log()->Message("Create filesystem (mode != AVI_FILES).");
    if (options.destination.empty())
        return;
    if (!options.from.is_special() && !options.to.is_special())
        m_fileSystem->SetPeriod(pt::time_period(options.from, options.to));
    else if (!options.time.is_special())
        m_fileSystem->SetPeriod(pt::time_period(options.time, options.time));
}

ISourceConfiguration::ESourceMode SourceConfiguration::GetSourceMode()
{
    return static_cast<ESourceMode>(QApplicationSettings::Instance().Live.SourceMode.load());
}

std::vector<boost::shared_ptr<filters::IVideoSource>> SourceConfiguration::GetVideoSources()
{
    if (!m_videoSources.empty())
        return m_videoSources;
    if (!m_fileSystem) {
        findVideoChannels();
        return m_videoSources;
    }
    std::vector<std::string> ids;
    m_fileSystem->GetChannels(ids);
    std::sort(ids.begin(), ids.end());
    QApplicationSettings& settings = QApplicationSettings::Instance();
    const std::vector<std::wstring>& channels = settings.Live.Channels;
    const bool noRememberedSource = settings.GetSourcePaths().empty();
    for (const std::string& id : ids) {
        const std::wstring wide = platform::Utf8ToWide(id);
        if (m_applyChannelFilter && (noRememberedSource || !channels.empty()) &&
            std::find(channels.begin(), channels.end(), wide) == channels.end())
            continue;
        try {
            if (auto source = filters::CreateArchiveChannelSource(m_fileSystem, wide))
                m_videoSources.push_back(source);
        } catch (const std::exception& e) {
            // One channel that cannot be read leaves the others playable.
            QOR_LOG_ERROR(Log(), "Can't create source of channel %s: %s", id.c_str(), e.what());
        }
    }
    return m_videoSources;
}

bool SourceConfiguration::HasVideo()
{
    if (m_fileSystem) {
        m_fileSystem->Initialize(false);
        std::vector<std::string> ids;
        m_fileSystem->GetChannels(ids);
        return !ids.empty();
    }
    return !GetVideoSources().empty();
}

void SourceConfiguration::findVideoChannels()
{
    std::vector<MediaFileRecord> files;
    int64_t offset = 0;
    EmbeddedVideoKey digest{};
    QApplicationSettings& settings = QApplicationSettings::Instance();
    if (settings.GetEmbeddedVideo(offset, digest, {})) {
        AddMediaFile(settings.GetEmbeddedVideoPath(), true, files);
    } else {
        std::vector<std::string> paths;
        boost::split(paths, m_paths, [](char c) { return c == '|'; });
        qDebug().noquote() << QString::fromStdString(
            (boost::format("SourceConfiguration::findVideoChannels: m_pathes = '%1%', folders = %2%.") % m_paths %
             paths.size())
                .str());
        for (const std::string& path : paths) {
            std::error_code error;
            if (!path.empty() && fs::is_directory(path, error)) {
                for (auto it = fs::recursive_directory_iterator(path, fs::directory_options::skip_permission_denied,
                                                                error);
                     !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
                    if (it->is_regular_file(error))
                        AddMediaFile(it->path().string(), false, files);
                }
            } else if (!path.empty()) {
                AddMediaFile(path, false, files);
            }
        }
    }
    BuildVideoSources(files);
}

void SourceConfiguration::AddMediaFile(const std::string& path, bool forced, std::vector<MediaFileRecord>& files)
{
    if (!forced && ClassifySourcePath(path) != CLASSIFY_MEDIA)
        return;
    MediaFileRecord file;
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    file.path = error ? path : absolute.string();
    file.name = NarrowMediaTextToWide(CompleteBaseName(fs::path(path)));
    file.isSigned = CheckSignedPath(file.path, m_signatureCheck);
    files.push_back(std::move(file));
}

void SourceConfiguration::BuildVideoSources(const std::vector<MediaFileRecord>& files)
{
    m_subtitleCache.clear();
    m_folderSubtitles.clear();
    std::map<std::wstring, std::vector<MediaFileRecord>> groups;
    {
        filters::VideoSource reader;
        for (const MediaFileRecord& file : files) {
            std::vector<MediaFileRecord> records;
            reader.ReadMediaFile(file, records);
            if (records.empty())
                Log()->Message("Can't read media file '%s'", file.path.c_str());
            for (MediaFileRecord& record : records) {
                FindExternalSubtitles(record);
                groups[record.id].push_back(std::move(record));
            }
        }
    }
    // Each channel opens its first file and decodes its first picture; the
    // channels do it at the same time, and keep their order.
    std::vector<std::future<boost::shared_ptr<filters::VideoSource>>> opened;
    for (auto& group : groups) {
        std::vector<MediaFileRecord>& records = group.second;
        std::stable_sort(records.begin(), records.end(), CompareRecordsByStart);
        opened.push_back(std::async(std::launch::async, [&records] {
            auto source = boost::shared_ptr<filters::VideoSource>(new filters::VideoSource);
            source->SetRecords(records);
            return source;
        }));
    }
    std::exception_ptr failure;
    for (auto& channel : opened) {
        try {
            const boost::shared_ptr<filters::VideoSource> source = channel.get();
            if (source->GetFrameInfo() != nullptr)
                m_videoSources.push_back(source);
            else
                Log()->Message("ChannelId[%s] has not frames", platform::WideToUtf8(source->GetId()).c_str());
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

void SourceConfiguration::FindExternalSubtitles(MediaFileRecord& record)
{
    const fs::path media(record.path);
    const std::string base = CompleteBaseName(media);
    // Keyed by folder and base name: files of the same name in other
    // folders have subtitles of their own.
    const std::wstring key = NarrowMediaTextToWide((media.parent_path() / base).string());
    auto cached = m_subtitleCache.find(key);
    if (cached == m_subtitleCache.end()) {
        const std::string folder = media.parent_path().string();
        auto listed = m_folderSubtitles.find(folder);
        if (listed == m_folderSubtitles.end()) {
            std::vector<std::string> subtitles;
            std::error_code error;
            for (auto it = fs::directory_iterator(media.parent_path(), error);
                 !error && it != fs::directory_iterator(); it.increment(error)) {
                if (ClassifySourcePath(it->path().string()) == CLASSIFY_SUBTITLES)
                    subtitles.push_back(it->path().string());
            }
            listed = m_folderSubtitles.emplace(folder, std::move(subtitles)).first;
        }
        std::vector<boost::shared_ptr<ExternalSubtitleFile>> found;
        for (const std::string& path : listed->second) {
            const std::string subtitleBase = CompleteBaseName(path);
            if (subtitleBase.find(base) == std::string::npos)
                continue;
            auto file = boost::shared_ptr<ExternalSubtitleFile>(new ExternalSubtitleFile);
            const size_t dot = subtitleBase.rfind('.');
            if (dot != std::string::npos && dot + 2 == subtitleBase.size() && subtitleBase[dot + 1] >= '0' &&
                subtitleBase[dot + 1] <= '9')
                file->videoStreamIndex = subtitleBase[dot + 1] - '0';
            file->path = path;
            file->fileName = fs::path(path).filename().string();
            found.push_back(file);
        }
        cached = m_subtitleCache.emplace(key, std::move(found)).first;
    }
    record.externalSubtitles = cached->second;
}
