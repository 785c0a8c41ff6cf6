// Bookmark records, their files in the first volume's PROTECTED folder, the
// list of a channel's bookmarks and the BOOKMARK/UNBOOKMARK commands.

#include "archive/fs/Bookmarks.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

#include "archive/files/Volume.h"
#include "archive/fs/FileSystem.h"
#include "archive/fs/RecordCommands.h"
#include "base/StringConv.h"
#include "base/VideoFrame.h"
#include "platform/Dir.h"

namespace {

std::string TimeText(const TSS& time) {
    if (time.IsEmpty()) return std::string();
    return time.ToString(true, true);
}

TSS ParseTimeText(const std::string& text) {
    TSS time{};
    if (!text.empty()) time.Parse(text.c_str());
    return time;
}

}  // namespace

Bookmark::Bookmark(const Msg& message, const std::string& path) : filePath(path) { ReadParams(message, ""); }

void Bookmark::ReadParams(const Msg& message, const std::string& suffix) {
    timeBegin = ParseTimeText(message.GetParam("time_begin" + suffix));
    timeEnd = ParseTimeText(message.GetParam("time_end" + suffix));
    comment = message.GetParam("comment" + suffix);
    created = message.GetParam("created" + suffix);
    datetimeExported = message.GetParam("datetime_exported" + suffix);
    const auto& params = message.GetParams();
    auto found = params.find("color" + suffix);
    color = found == params.end() ? 0 : static_cast<int32_t>(std::strtol(found->second.c_str(), nullptr, 10));
}

void Bookmark::WriteParams(Msg& message, const std::string& suffix) const {
    message.SetParam("comment" + suffix, comment);
    message.SetParam("time_begin" + suffix, TimeText(timeBegin));
    message.SetParam("time_end" + suffix, TimeText(timeEnd));
    message.SetParam("created" + suffix, created);
    message.SetParam("datetime_exported" + suffix, datetimeExported);
    message.SetParam("color" + suffix, static_cast<int>(color));
}

void ChannelsBookmark::WriteParams(Msg& message, const std::string& suffix) const {
    std::string chans;
    for (int32_t channel : *channels) chans += std::to_string(channel) + ";";
    message.SetParam("chans" + suffix, chans);
    Bookmark::WriteParams(message, suffix);
}

std::string BookmarkFileName(int camera, const TSS& begin) {
    char time[32];
    std::snprintf(time, sizeof time, " %02d-%02d-%02d", int(begin.wHour), int(begin.wMinute), int(begin.wSecond));
    return begin.DateString() + time + FormatChannelExtension(kVideoLetter, camera) + ".bkm";
}

std::string FormatBookmarkLine(int camera, const Bookmark& bookmark) {
    // The order the stored files have always had; readers do not depend on it.
    return "chan<" + std::to_string(camera) + ">,time_begin<" + TimeText(bookmark.timeBegin) + ">,time_end<" +
           TimeText(bookmark.timeEnd) + ">,created<" + bookmark.created + ">,color<" + std::to_string(bookmark.color) +
           ">,datetime_exported<" + bookmark.datetimeExported + ">,comment<" + bookmark.comment + ">";
}

void FileSystem::WriteBookmarkFile(int camera, const Bookmark& bookmark, bool add) {
    std::string folder;
    {
        SyncLock lock(m_volumesLock);
        if (m_volumes.empty()) return;
        folder = m_volumes[0].GetProtectedPath();
    }
    const std::string path = platform::JoinPath(folder, BookmarkFileName(camera, bookmark.timeBegin));
    ::unlink(path.c_str());
    if (add) {
        std::ofstream file(path, std::ios::binary | std::ios::app);
        // Stored in the archive's code page, as the files have always been.
        if (file) file << StringToArchiveText(FormatBookmarkLine(camera, bookmark)) << "\r\n";
    }
    std::lock_guard<std::mutex> lock(m_bookmarksLock);
    m_bookmarksDirty = true;
}

std::map<int, std::shared_ptr<ChannelsBookmark>> FileSystem::LoadBookmarks() {
    std::lock_guard<std::mutex> lock(m_bookmarksLock);
    if (!m_bookmarksDirty) return m_bookmarks;
    std::string folder;
    {
        SyncLock volumes(m_volumesLock);
        if (m_volumes.empty()) return {};
        folder = m_volumes[0].GetProtectedPath();
    }

    std::map<int, std::shared_ptr<ChannelsBookmark>> bookmarks;
    static const std::string kExtension = ".bkm";
    for (const auto& item : platform::ListDirectory(folder)) {
        const std::string& name = item.name;
        if (item.isDirectory || name.size() < 24 ||
            name.compare(name.size() - kExtension.size(), kExtension.size(), kExtension) != 0)
            continue;
        const std::string path = platform::JoinPath(folder, name);
        std::ifstream file(path, std::ios::binary);
        if (!file) continue;
        std::string line;
        while (std::getline(file, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty()) continue;
            Msg message;
            message.ParseParams(ArchiveTextToString(line));
            Bookmark read(message, path);
            const std::string chan = message.GetParam("chan");
            const int32_t channel = static_cast<int32_t>(std::strtol(chan.c_str(), nullptr, 10));
            std::shared_ptr<ChannelsBookmark> same;
            for (const auto& [key, stored] : bookmarks)
                if (stored->created == read.created) same = stored;
            if (same) {
                same->channels->push_back(channel);
                continue;
            }
            auto added = std::make_shared<ChannelsBookmark>();
            static_cast<Bookmark&>(*added) = read;
            added->channels->push_back(channel);
            const int key = static_cast<int>(bookmarks.size());
            bookmarks[key] = added;
        }
    }
    m_bookmarks = bookmarks;
    m_bookmarksDirty = false;
    return bookmarks;
}

std::string FileSystem::GetBookmarks(int camera) {
    const auto bookmarks = LoadBookmarks();
    Msg message;
    int count = 0;
    for (const auto& [key, bookmark] : bookmarks) {
        bool listed = false;
        for (int32_t channel : *bookmark->channels)
            if (channel == camera) listed = true;
        if (!listed) continue;
        bookmark->WriteParams(message, std::to_string(count));
        ++count;
    }
    message.SetParam("count", count);
    return message.FormatParams();
}

bool FileSystem::BookmarkRecords(const std::string& slaveId, VideoFrame* frame, bool add, bool protect) {
    if (!frame) return false;
    Msg command;
    command.FromText(frame->m_sFileId);
    const TSS time1 = ParseTimeText(command.GetParam("time1"));
    const TSS time2 = ParseTimeText(command.GetParam("time2"));
    const int camera = frame->m_nChan;
    auto dir = FindCameraDir(camera);
    if (!dir) return false;

    // Without a begin the walk would be open-ended and change every record
    // of the camera; only the bookmark file is written or removed then.
    std::vector<VindaraFileSystem::DirEntry> entries;
    const uint64_t from = LocalTssToUnixMs(time1);
    if (from != 0)
        dir->ForEachEntry(from, LocalTssToUnixMs(time2), [&entries](const VindaraFileSystem::DirEntry& e) {
            entries.push_back(e);
            return true;
        });
    for (auto& entry : entries) ProtectEntry(slaveId, camera, entry, protect);

    Bookmark bookmark;
    bookmark.comment = command.GetParam("comment");
    bookmark.timeBegin = time1;
    bookmark.timeEnd = time2;
    bookmark.color = static_cast<int32_t>(std::strtol(command.GetParam("color").c_str(), nullptr, 10));
    TSS now;
    now.SetLocalNow();
    bookmark.created = now.DateString() + " " + now.TimeString();
    WriteBookmarkFile(camera, bookmark, add);
    return true;
}
