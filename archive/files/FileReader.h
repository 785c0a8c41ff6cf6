#pragma once
// Plays the recorded archive of one camera for the archive engine: keeps one
// archive video file of the camera open, walks the camera's record directory
// from file to file, answers single-frame requests (first, last, previous,
// next, by number, by time, by path) and, while a receiver is attached, runs
// a play thread that hands frame after frame to the receiver, forwards or
// backwards, across file boundaries.
//
// Locks, outermost first: the play lock (StartPlay, ReadFrame,
// GetFilePathForTime), the file lock (every read and file change of the
// frames reader), the receiver lock; the camera directory's own lock is
// innermost. The play thread never takes the play lock: it takes the receiver
// lock and the file lock one at a time, and delivers while holding the
// receiver lock. StopPlay waits for the play thread after leaving the
// receiver lock, so a caller holding the play lock can stop it.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/files/Dir.h"
#include "archive/files/DynamicFramesReader.h"
#include "archive/files/FileProcessor.h"
#include "archive/files/PlayInfo.h"
#include "base/Locks.h"
#include "base/Thread.h"
#include "base/Tss.h"

namespace FrameCodecs {
class IFrameCompressor;
class IFrameDecompressor;
}  // namespace FrameCodecs

class Event;
class VideoFrame;

// The client a reader plays to. Supplied by the engine's caller; the reader
// keeps a reference while it is attached.
class IPlayReceiver {
public:
    virtual ~IPlayReceiver() = default;
    // How many frames the receiver still holds for the camera.
    virtual int GetQueueLength(int camera) = 0;
    // A played frame. The reader keeps its own reference and releases it after
    // the call: a receiver that keeps the frame adds a reference.
    virtual void Deliver(const std::string& subSlaveId, VideoFrame* frame, int flags) = 0;
    // Play events ("NEW_TOKEN", "PLAY_STOPPED", "PLAY_STOP").
    virtual void SendMessage(const Event& event, int flags) = 0;
    // Lets the receiver name the sub-slave the camera plays for.
    virtual void FillSubSlaveId(int camera, std::string& subSlaveId) = 0;
    // The reader's archive-client flag and the caller's extra StartPlay value.
    virtual void SetClientInfo(int archiveClient, int value) = 0;
    // The reader lets go of the receiver for that camera.
    virtual void Detached(const std::string& subSlaveId, int camera) = 0;
    // Told when StopPlay detaches the receiver.
    virtual void Release() = 0;
};

// Told of every frame a requested read delivers. Gets one reference of its
// own, which it releases.
class IFrameHook {
public:
    virtual ~IFrameHook() = default;
    virtual void OnFrame(VideoFrame* frame) = 0;
};

// What a file reader needs of the archive engine that owns it; the engine
// outlives its readers.
class IFileReaderOwner : public IFileProcessorOwner {
public:
    // The camera's record directory, or null (never created here).
    virtual std::shared_ptr<VindaraFileSystem::Dir> GetCameraDir(int camera) = 0;
    // Path of an entry's file with `letter` in its extension (the PROTECTED
    // copy for protected entries); empty for an unknown volume.
    virtual std::string GetEntryFilePath(int camera, const VindaraFileSystem::DirEntry& entry, char letter) = 0;
    // Deletes an archive file (closing it in every reader first) and tells the
    // engine's clients. beginS and endS: the record's span in Unix seconds or 0.
    virtual bool RemoveFile(const char* path, int64_t beginS, int64_t endS) = 0;
    // Cameras above this id are face-capture channels.
    virtual int GetFirstFaceCaptureId() const = 0;
    // Key-frame alignment of single reads (off in this program).
    virtual bool GetPFrameMode() const = 0;

protected:
    ~IFileReaderOwner() = default;
};

class FileReader : public FileProcessor, public Thread, public Storage::IPlayInfo {
public:
    // Read codes of ReadFrame (the engine passes its command codes 0 to 10).
    enum ReadCode : int {
        ReadFirst = 0,
        ReadPrev = 1,
        ReadPrevExact = 2,
        ReadNext = 3,
        ReadLast = 4,
        ReadLastExact = 5,
        ReadNumber = 6,
        ReadNumberExact = 7,
        ReadTimeAnyHour = 8,  // midnight allowed
        ReadTimeExact = 9,
        ReadTime = 10,
    };

    // Size of the picture that stands in for frames of a file recorded under
    // another password: 178 x 144, (colour + 1) x 25632 bytes.
    static constexpr int kPasswordImageWidth = 178;
    static constexpr int kPasswordImageHeight = 144;

    // The volumes are copied; hook and owner are not owned (hook may be null).
    FileReader(IFrameHook* hook, int camera, IFileReaderOwner* owner, const std::vector<Volume>& volumes);
    ~FileReader() override;

    const char* GetTypeName() const override { return "FILEREADER"; }
    // A file is open and its frames reader is ready.
    bool IsOpen() const override;
    // Empties the current entry, stops play, closes the file.
    void Close(bool flag) override;
    void Close() { Close(false); }
    // Pause / resume the play thread (it idles in 10 ms steps while paused).
    virtual int Pause();
    virtual int Resume();
    bool IsPaused() const { return m_paused.load(); }

    // Attaches a receiver and starts the play thread. crossFiles: go on into
    // the following files; rateLimit: highest delivery rate in frames per
    // second (0 none); value: handed to the receiver; noWait: end at the newest
    // file instead of waiting for it to grow; direction 0 forwards, else
    // backwards. 1 only when a file is open and the thread started (the
    // receiver stays attached otherwise).
    int StartPlay(std::shared_ptr<IPlayReceiver> receiver, int crossFiles, int rateLimit, int value, int noWait,
                  int direction);
    // Detaches the receiver and stops the thread; 0 when none was attached.
    int StopPlay();
    // One frame into the caller's frame, guided by its m_sFileId (empty, a
    // navigation word "first" "last" "prev" "prev!" "next", "time <date>
    // <time>", or a file path) and the code. On success the frame carries its
    // file path in m_sFileId, its position and the file's frame count.
    // requester is only remembered (never called).
    int ReadFrame(VideoFrame* frame, int code, IPlayReceiver* requester, int value);
    // Closes the open file when name is null or its path; 1 when it closed.
    int CloseFile(const char* name);
    // Opens the entry's file unless a file is open (then 1 whatever file).
    int OpenEntryFile(const VindaraFileSystem::DirEntry& entry);
    // name is the path of the open file (exact, case-sensitive).
    bool IsCurrentFile(const std::string& name) const;
    // Deletes the current file (0 while the play thread runs) after moving to
    // the next frame, or the previous one.
    int DeleteCurrentFile();
    // Path of the file holding a local time text ("" when none); the text is
    // rewritten to the file's creation time.
    std::string GetFilePathForTime(std::string& timeText);
    Storage::PlayFileInfo GetCurrentFileInfo(int which) override;

    // --- values the engine sets -------------------------------------------
    void SetArchiveClient(int flag) { m_archiveClient = flag; }
    int GetArchiveClient() const { return m_archiveClient; }
    void SetToken(const std::string& token);
    std::string GetToken() const;
    void SetSubSlaveId(const std::string& id);
    std::string GetSubSlaveId() const;
    void SetSpeed(double speed) { m_speed.store(speed); }
    double GetSpeed() const { return m_speed.load(); }
    void SetPasswordCrc(int32_t crc) { m_passwordCrc = crc; }

    int GetPosition() const { return m_position.load(); }
    // Path the frames reader has open ("" when none).
    std::string GetOpenFilePath() const;
    int GetFirstFrameFormat() const { return m_firstFrameFormat; }

    // --- process-wide values ---------------------------------------------------
    // CompressorVersion (default 55; 122 and 124 become 110) and
    // ReaderPriority (default 0; outside -15..15 becomes 0) from their
    // registry texts ("" = missing).
    static int MakeCompressorVersion(const std::string& text);
    static int MakeReaderPriority(const std::string& text);
    // Read once per process from SOFTWARE\QOR\Vindara\Video.
    static int GetCompressorVersion();
    static int GetReaderPriority();

protected:
    bool Run() override;

private:
    int openFile(const std::string& text, TSS* timeOut, int code);
    int doOpenFile(int64_t fileId, const std::string& folder, const std::string& path = std::string());
    int openFileTime(const std::string& text, TSS* timeOut, int code);
    int openAdjacentFile(bool forward);
    int doReadFrame(VideoFrame* frame, int code, IPlayReceiver* requester, int value, double speed);
    int doReadFrameSwitch(VideoFrame* frame, int code, IPlayReceiver* requester, int value, double speed);
    int readFrameAt(VideoFrame* frame, int back);
    int readFrameExact(VideoFrame* frame, int target, int back);
    // Decodes from the inter frame in `frame` (at the position) to the target
    // and re-encodes the target picture into `frame`; 1 or 0.
    int rebuildExact(VideoFrame* frame, int target);
    int findEntryForTime(const TSS& time, int mode);
    int findLastEntry();
    // Reads frame n with its data; the number read or -1.
    int64_t readPlain(VideoFrame* frame, int64_t n, double speed = 1.0, bool backward = false,
                      bool needPFrame = false);
    bool isFaceCapture() const;
    void sendEvent(IPlayReceiver* receiver, const char* action) const;
    // Makes `entry` current (file id, folder, volume, protected flag).
    void takeEntry(const VindaraFileSystem::DirEntry& entry, const std::string& folder);
    std::shared_ptr<VindaraFileSystem::Dir> getDir() const;
    void closeFramesReader();
    bool playThreadRunning() const;

    std::atomic<int> m_position{-1};
    DynamicFramesReader m_framesReader;
    std::shared_ptr<IPlayReceiver> m_receiver;
    IPlayReceiver* m_lastRequester = nullptr;
    mutable qormisc::CriticalSection m_receiverLock;
    int m_reEncoded = 0;
    int m_crossFiles = 0;
    int m_noWait = 0;
    int m_rateLimit = 0;
    std::atomic<double> m_speed{1.0};
    int m_direction = 0;
    int m_lastDelay = 0;
    int m_throttled = 0;
    IFrameHook* m_frameHook = nullptr;
    std::atomic<bool> m_paused{false};
    mutable qormisc::CriticalSection m_valuesLock;  // token and sub-slave id
    std::string m_token;
    std::string m_subSlaveId;
    int m_firstFrameFormat = 0;
    std::atomic<int> m_archiveClient{0};
    qormisc::CriticalSection m_playLock;
    mutable qormisc::CriticalSection m_fileLock;
    int m_lastReadCode = -1;
    // The entry of the file the frames reader has open, when it was chosen
    // from the directory; keeps the current entry on the open file where
    // records overlap in time.
    VindaraFileSystem::DirEntry m_openEntry = VindaraFileSystem::DirEntry::Empty();
    // The hour folder name of the entry date last named (FormatEntryDate),
    // kept while the zone stays as it was: each frame read names its entry.
    struct EntryFolderMemo {
        uint64_t date = 0;
        uint64_t zone = 0;
        std::string folder;
        bool valid = false;
    };
    EntryFolderMemo m_entryFolder;
    const std::string& EntryFolderOf(uint64_t date);
    IFileReaderOwner* m_owner = nullptr;
    // The exact rebuild's codecs (from the install points of
    // archive/files/FrameCodecs.h), made at the first rebuild.
    std::unique_ptr<FrameCodecs::IFrameDecompressor> m_decompressor;
    std::unique_ptr<FrameCodecs::IFrameCompressor> m_compressor;
};

// "<dir>/1A2B._07" -> "<dir>/1A2B.w07" when that file exists, else "".
std::string GetCompanionFileName(const std::string& videoPath);
