#pragma once
// Channel readers: the compressed frames of one channel of an archive front
// end, one at a time, forward or backward, from a given time, with key-frame
// skipping; the days and periods that hold recordings; the channel's settings
// record and play information.
//
// ChannelReader holds the reading rules (one-frame look-ahead, key-frame
// skipping, seeking, the shift between index and frame times); its
// subclasses supply four raw reads over the recorder's archive engine, one
// exported file, or a folder of exported files.
//
// Threads: a reader holds no lock; one thread at a time uses it. Frames are
// handed out as VideoFramePtr: the caller gets a reference of its own and
// the reader keeps its own.
//
// Time values: instants are UTC ptime of microsecond resolution; a frame's
// instant is its local m_tssTime converted to UTC; a period built from b to
// e has its last instant at e - 1 us.

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/date_time/gregorian/gregorian_types.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/shared_ptr.hpp>

#include "archive/files/ArchiveSettings.h"
#include "archive/files/PlayInfo.h"
#include "base/Tss.h"
#include "base/VideoFrame.h"

class FileSystem;
class OrlekVideoFile;

namespace Storage {

class VindaraSettingsLoader;

// Thrown by reads that met a damaged archive file; carries no text.
class InvalidArchiveException : public std::exception {};

// The archive files of a channel that hold material in a period.
class IChannelExporter {
public:
    // Appends full paths of the channel's archive video files.
    virtual void GetExportFiles(const boost::posix_time::time_period& period, std::vector<std::string>& files) = 0;

protected:
    ~IChannelExporter() = default;
};

class IChannelReader {
public:
    virtual ~IChannelReader() = default;

    // Display name of the channel.
    virtual std::wstring GetName() const = 0;
    // Days with recordings, appended.
    virtual void GetRecordDays(std::vector<boost::gregorian::date>& days) = 0;
    // Recorded periods of a day in the frames' time, appended.
    virtual void GetRecordIntervals(const boost::gregorian::date& day,
                                    std::vector<boost::posix_time::time_period>& periods) = 0;
    // Instant of the current frame; not-a-date-time when there is none.
    virtual boost::posix_time::ptime GetCurrentTime() = 0;
    // Instant of the frame after the current one; the current frame's instant
    // at the end.
    virtual boost::posix_time::ptime GetNextTime() = 0;
    // Makes the frame holding the instant current (the frame before the first
    // frame found when the instant lies before it).
    virtual void Seek(const boost::posix_time::ptime& time) = 0;
    // The new current frame (unchanged when nothing follows / precedes).
    virtual VideoFramePtr ReadNext(bool keyOnly) = 0;
    virtual VideoFramePtr ReadPrevious(bool keyOnly) = 0;
    // Null when there is none.
    virtual VideoFramePtr GetCurrentFrame() = 0;
    // No frame follows the current one.
    virtual bool IsAtEnd() = 0;
    virtual const ChannelInfo& GetChannelInfo() const = 0;
    // Owned by the reader or its archive; may be null.
    virtual IPlayInfo* GetPlayInfo() = 0;
};

// The recorded period of each exported archive file of one channel -> the
// file's path. Ordered by the date-time library's period order (a before b
// when a ends before b begins): two files whose periods overlap are the same
// key, so a channel keeps only the first of them.
struct PeriodOrder {
    bool operator()(const boost::posix_time::time_period& a, const boost::posix_time::time_period& b) const
    {
        return a < b;
    }
};
using FolderFileMap = std::map<boost::posix_time::time_period, std::string, PeriodOrder>;

class ChannelReader : public IChannelReader, public IChannelExporter {
public:
    // name: the record's name (through the narrow code page and back) when it
    // has one, else `name`, else the channel number.
    ChannelReader(int channel, const std::wstring& name, const ChannelInfo& info);
    ~ChannelReader() override;
    ChannelReader(const ChannelReader&) = delete;
    ChannelReader& operator=(const ChannelReader&) = delete;

    // Reads the first frame and the one after it and measures the shift
    // between the archive index and the frames. Called once, by the front end,
    // right after construction. May throw InvalidArchiveException, or a
    // platform::ArchiveException from the first-frame read.
    void Init();

    std::wstring GetName() const override { return m_name; }
    void GetRecordIntervals(const boost::gregorian::date& day,
                            std::vector<boost::posix_time::time_period>& periods) override;
    boost::posix_time::ptime GetCurrentTime() override;
    boost::posix_time::ptime GetNextTime() override;
    void Seek(const boost::posix_time::ptime& time) override;
    VideoFramePtr ReadNext(bool keyOnly) override { return Move(keyOnly, true); }
    VideoFramePtr ReadPrevious(bool keyOnly) override { return Move(keyOnly, false); }
    VideoFramePtr GetCurrentFrame() override { return m_current; }
    bool IsAtEnd() override;
    const ChannelInfo& GetChannelInfo() const override { return m_channelInfo; }

    int GetChannel() const { return m_channel; }
    // Index instants minus frame instants, measured by Init.
    boost::posix_time::time_duration GetShift() const { return m_shift; }

protected:
    // Raw reads of a subclass. Frames come back with the caller's reference.
    // Append the recorded periods of a day (index time).
    virtual void ReadDayIntervals(const boost::gregorian::date& day,
                                  std::vector<boost::posix_time::time_period>& periods) = 0;
    // The frame after (forward) or before the source's position, which moves
    // there; null when there is none.
    virtual VideoFramePtr FetchFrame(bool forward) = 0;
    // The frame at an instant (index time is the subclass's business).
    virtual VideoFramePtr FetchFrameAt(const boost::posix_time::ptime& time) = 0;
    virtual VideoFramePtr FetchFirstFrame() = 0;

    int m_channel;
    std::wstring m_name;
    ChannelInfo m_channelInfo;
    boost::posix_time::time_duration m_shift;

private:
    VideoFramePtr readFrame(bool keyOnly, bool forward);
    void SetCurrent(const VideoFramePtr& frame);
    void CacheNext();
    VideoFramePtr Move(bool keyOnly, bool forward);

    VideoFramePtr m_current;
    VideoFramePtr m_lookahead;
    bool m_lookaheadValid = false;
    bool m_atEnd = false;
};

// Reads through the recorder's archive engine, which it keeps alive.
class VindaraDrivesChannelReader : public ChannelReader {
public:
    VindaraDrivesChannelReader(boost::shared_ptr<FileSystem> fileSystem, int channel);
    ~VindaraDrivesChannelReader() override;

    void GetRecordDays(std::vector<boost::gregorian::date>& days) override;
    IPlayInfo* GetPlayInfo() override;
    void GetExportFiles(const boost::posix_time::time_period& period, std::vector<std::string>& files) override;

protected:
    void ReadDayIntervals(const boost::gregorian::date& day,
                          std::vector<boost::posix_time::time_period>& periods) override;
    VideoFramePtr FetchFrame(bool forward) override;
    VideoFramePtr FetchFrameAt(const boost::posix_time::ptime& time) override;
    VideoFramePtr FetchFirstFrame() override;

private:
    // One engine read with a command code and its parameter text; null when
    // the engine refuses.
    VideoFramePtr Execute(unsigned code, const std::string& parameter);

    boost::shared_ptr<FileSystem> m_fileSystem;
};

// Reads one exported archive file.
class VindaraFileChannelReader : public ChannelReader {
public:
    // Throws std::runtime_error("failed to open videofile") when the file does
    // not open. A settings loader, when given, supplies the channel's record
    // and name.
    VindaraFileChannelReader(const std::string& path, const std::string& name,
                             boost::shared_ptr<VindaraSettingsLoader> settingsLoader);
    ~VindaraFileChannelReader() override;

    void GetRecordDays(std::vector<boost::gregorian::date>& days) override;
    IPlayInfo* GetPlayInfo() override;
    void GetExportFiles(const boost::posix_time::time_period& period, std::vector<std::string>& files) override;

protected:
    void ReadDayIntervals(const boost::gregorian::date& day,
                          std::vector<boost::posix_time::time_period>& periods) override;
    VideoFramePtr FetchFrame(bool forward) override;
    VideoFramePtr FetchFrameAt(const boost::posix_time::ptime& time) override;
    VideoFramePtr FetchFirstFrame() override;

private:
    std::unique_ptr<OrlekVideoFile> m_file;
    boost::shared_ptr<VindaraSettingsLoader> m_settingsLoader;
};

// Moves a folder channel from file to file, keeping one file reader open.
// Its play information is the current file's record.
class VindaraFolderReadersManager : public IPlayInfo {
public:
    // Opens the first file when there is one.
    explicit VindaraFolderReadersManager(const FolderFileMap& files);
    ~VindaraFolderReadersManager() override;

    PlayFileInfo GetCurrentFileInfo(int which) override;
    // Files from the first one ending at or after the period's first instant
    // up to the first one ending at or after its end (that one only when it
    // begins by then), in order.
    virtual void GetExportFiles(const boost::posix_time::time_period& period, std::vector<std::string>& files);

    // Frame of the current file's reader; null without one.
    VideoFramePtr CurrentFrame();
    // The first file's first frame.
    VideoFramePtr First();
    // The first frame of the next file that has one; null at the last file.
    VideoFramePtr NextFile();
    // The last frame of the previous file that has frames; null at the first.
    VideoFramePtr PreviousFile();
    void SelectFile(FolderFileMap::const_iterator it);

    const FolderFileMap& Files() const { return m_files; }
    // End of Files() when no file is current.
    FolderFileMap::const_iterator Current() const { return m_current; }
    const boost::shared_ptr<IChannelReader>& Reader() const { return m_reader; }

private:
    // A file reader over the file, initialised; empty when it cannot be
    // opened or read. Emits ChangeSignal when one was made.
    boost::shared_ptr<IChannelReader> OpenReader(FolderFileMap::const_iterator it);

    FolderFileMap m_files;
    FolderFileMap::const_iterator m_current;
    boost::shared_ptr<IChannelReader> m_reader;
};

// Reads a channel spread over many exported files, one open at a time.
class VindaraFolderChannelReader : public ChannelReader {
public:
    VindaraFolderChannelReader(const FolderFileMap& files, int channel, const std::wstring& name,
                               const ChannelInfo& info);
    ~VindaraFolderChannelReader() override;

    void GetRecordDays(std::vector<boost::gregorian::date>& days) override;
    IPlayInfo* GetPlayInfo() override;
    void GetExportFiles(const boost::posix_time::time_period& period, std::vector<std::string>& files) override;

protected:
    void ReadDayIntervals(const boost::gregorian::date& day,
                          std::vector<boost::posix_time::time_period>& periods) override;
    VideoFramePtr FetchFrame(bool forward) override;
    VideoFramePtr FetchFrameAt(const boost::posix_time::ptime& time) override;
    VideoFramePtr FetchFirstFrame() override;

private:
    boost::shared_ptr<VindaraFolderReadersManager> m_manager;
};

// --- time conversions shared by the readers and the front ends -------------
// Instant of a local time stamp (through UTC milliseconds since 1601).
boost::posix_time::ptime TssToInstant(const TSS& time);
// Local time stamp of an instant. Special values: not-a-date-time gives the
// empty stamp, minus infinity 1970-01-01 00:00 UTC, plus infinity the year
// 3000, so open periods stay usable as query bounds.
TSS InstantToTss(const boost::posix_time::ptime& time);
// Instant of a frame's time stamp; not-a-date-time for no frame.
boost::posix_time::ptime FrameInstant(const VideoFrame* frame);

}  // namespace Storage
