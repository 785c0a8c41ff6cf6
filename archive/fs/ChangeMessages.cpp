// ARCH_DELETE, DELETE_FILE and the file-deleted notification for the attached
// message sink.

#include "archive/fs/ChangeMessages.h"

#include <cstdio>

#include "archive/fs/FileSystem.h"

std::string FormatMessageDate(const TSS& time) {
    if (time.wDay == 0 && time.wMonth == 0 && time.wYear == 0) return std::string();
    if (!time.IsValidDate() || time.wYear == 9999) return std::string();
    int year = time.wYear;
    if (year >= 2000)
        year -= 2000;
    else if (year > 1950)
        year -= 1900;
    char text[32];
    std::snprintf(text, sizeof text, "%.2d-%.2d-%.2d", int(time.wDay), int(time.wMonth), year);
    return text;
}

std::string FormatMessageTime(const TSS& time) {
    if (time.wHour > 23 || time.wMinute > 59 || time.wSecond > 59 || time.dwMilliseconds > 999) return std::string();
    char text[32];
    std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d.%03d", int(time.wHour), int(time.wMinute), int(time.wSecond),
                  int(time.dwMilliseconds));
    return text;
}

void FileSystem::SetMessageSink(std::shared_ptr<IArchiveMessageSink> sink) {
    std::lock_guard<std::mutex> lock(m_messageSinkLock);
    m_messageSink = std::move(sink);
}

void FileSystem::SetChannelAudioMics(int camera, const std::vector<std::string>& mics) {
    {
        std::lock_guard<std::mutex> lock(m_messageSinkLock);
        m_audioMics[camera] = mics;
    }
    if (const std::shared_ptr<FileRecorder> recorder = GetRecorder(camera, false, std::string()))
        recorder->SetAudioMics(mics);
}

std::shared_ptr<IArchiveMessageSink> FileSystem::GetMessageSink() const {
    std::lock_guard<std::mutex> lock(m_messageSinkLock);
    return m_messageSink;
}

void FileSystem::SendArchDelete(const TSS& recordTime, int camera, int64_t rangeStartMs, int64_t rangeEndMs) {
    const std::shared_ptr<IArchiveMessageSink> sink = GetMessageSink();
    if (!sink) return;
    const std::string time = FormatMessageTime(recordTime);
    Event message(camera > m_firstFaceCaptureId ? "CAM_FACECAPTURE" : "CAM", camera, "ARCH_DELETE");
    message.SetParam("fs", m_name);
    message.SetParam("date", FormatMessageDate(recordTime));
    message.SetParam("hour", time.substr(0, 2));
    if (rangeStartMs != 0) {
        message.SetParam("time", time);
        message.SetParam("manual", 1);
        if (rangeEndMs != 0) {
            message.SetParam("fromTime", TSS::FromUtc(uint64_t(rangeStartMs) + kArchiveUnixOffsetMs).ToIsoString());
            message.SetParam("toTime", TSS::FromUtc(uint64_t(rangeEndMs) + kArchiveUnixOffsetMs).ToIsoString());
        }
    }
    sink->OnMessage(message, 0);
}

void FileSystem::SendDeleteFile(int channel, const std::string& path) {
    std::shared_ptr<IArchiveMessageSink> sink;
    std::string line;
    {
        std::lock_guard<std::mutex> lock(m_messageSinkLock);
        sink = m_messageSink;
        if (!sink) return;
    }
    // The channel's recorder names the audio line; a recorder without
    // microphones gets no reaction.
    const std::shared_ptr<FileRecorder> recorder = GetRecorder(channel, true, std::string());
    if (!recorder) return;
    const std::vector<std::string> mics = recorder->GetAudioMics();
    if (mics.empty()) return;
    line = mics.front();
    React react("OLXA_LINE", line, "DELETE_FILE");
    react.SetParam("cam", channel);
    react.SetParam("file", path);
    Event message("", "", "");
    message.FromReact(react);
    sink->OnMessage(message, 1);
}

void FileSystem::SendFileDeleted(int channel, const std::string& path, int64_t beginS, int64_t endS) {
    const std::shared_ptr<IArchiveMessageSink> sink = GetMessageSink();
    if (!sink || beginS == 0 || endS == 0) return;
    TSS begin;
    TSS end;
    begin.FromTimeT(static_cast<std::time_t>(beginS));
    end.FromTimeT(static_cast<std::time_t>(endS));
    sink->OnFileDeleted(channel, path.c_str(), begin, end);
}
