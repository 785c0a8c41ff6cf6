// The archive file reader on its own, over a small directory it is handed by
// a stand-in engine: process-wide values, the password picture, a one-frame
// file played through, the wait at a growing newest file, and stepping back
// across files.

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "archive/files/FileReader.h"
#include "archive/files/Volume.h"
#include "base/Messages.h"
#include "base/VideoFrame.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTss.h"

namespace {

// The engine side a reader needs: one volume, one camera directory.
class Owner : public IFileReaderOwner {
public:
    explicit Owner(const std::string& archiveFolder) : volume(false, archiveFolder, true) {}
    std::string GetName() const override { return ""; }
    std::shared_ptr<VindaraFileSystem::Dir> GetCameraDir(int camera) override { return camera == 7 ? dir : nullptr; }
    std::string GetEntryFilePath(int camera, const VindaraFileSystem::DirEntry& e, char letter) override {
        return volume.GetFilePath(camera, e.fileId, FormatEntryDate(e.date), letter);
    }
    bool RemoveFile(const char* path, int64_t, int64_t) override { return std::remove(path) == 0; }
    int GetFirstFaceCaptureId() const override { return 50000; }
    bool GetPFrameMode() const override { return false; }

    Volume volume;
    std::shared_ptr<VindaraFileSystem::Dir> dir = std::make_shared<VindaraFileSystem::Dir>();
};

class Receiver : public IPlayReceiver {
public:
    int GetQueueLength(int) override { return 0; }
    void Deliver(const std::string&, VideoFrame* frame, int) override {
        std::lock_guard<std::mutex> lock(mutex);
        numbers.push_back(frame->m_nFrameNumber);
    }
    void SendMessage(const Event& event, int) override {
        std::lock_guard<std::mutex> lock(mutex);
        actions.push_back(event.GetAction());
        types.push_back(event.GetType());
        cv.notify_all();
    }
    void FillSubSlaveId(int, std::string&) override {}
    void SetClientInfo(int, int) override {}
    void Detached(const std::string&, int) override { detached++; }
    void Release() override {}
    bool WaitFor(const std::string& action, std::chrono::seconds limit = std::chrono::seconds(60)) {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, limit,
                           [&] { return std::find(actions.begin(), actions.end(), action) != actions.end(); });
    }
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<int> numbers;
    std::vector<std::string> actions;
    std::vector<std::string> types;
    std::atomic<int> detached{0};
};

class FileReaderTest : public ::testing::Test {
protected:
    // A file of camera 7 in the hour folder of its first frame, entered in
    // the directory.
    std::string AddFile(uint32_t fileId, int64_t beginMs, int frames, const testsupport::ArchiveFileOptions& options = {}) {
        const uint64_t hourStart = static_cast<uint64_t>(beginMs) / 3600000 * 3600000;
        const std::string folder = FormatEntryDate(hourStart);
        const std::string path = owner.volume.GetFilePath(7, fileId, folder);
        mkdir((tmp.Path() + "/" + folder).c_str(), 0755);
        testsupport::WriteBytes(path, testsupport::BuildArchiveFile(
                                          testsupport::MakeSyntheticFrames(frames, beginMs, 100, 5, 16), options));
        VindaraFileSystem::DirEntry e;
        e.begin = static_cast<uint64_t>(beginMs);
        e.end = e.begin + static_cast<uint64_t>(frames - 1) * 100;
        e.fileId = fileId;
        e.date = hourStart;
        owner.dir->AddEntry(e);
        return path;
    }

    testsupport::ArchiveTempDir tmp;
    Owner owner{tmp.Path()};
    const int64_t t0 = 1709632800000;  // an hour boundary
};

TEST(FileReaderValuesTest, RegistryTextsBecomeValues) {
    const std::pair<const char*, int> versions[] = {{"", 55}, {"55", 55}, {"122", 110}, {"124", 110}, {"123", 123}};
    for (const auto& v : versions) EXPECT_EQ(FileReader::MakeCompressorVersion(v.first), v.second) << v.first;
    const std::pair<const char*, int> priorities[] = {{"", 0}, {"15", 15}, {"16", 0}, {"-15", -15}, {"-16", 0}};
    for (const auto& p : priorities) EXPECT_EQ(FileReader::MakeReaderPriority(p.first), p.second) << p.first;
}

TEST_F(FileReaderTest, AFileOfAnotherPasswordPlaysAsThePasswordPicture) {
    testsupport::ArchiveFileOptions options;
    options.archiveId = 0x1234;
    AddFile(1, t0, 3, options);
    FileReader reader(nullptr, 7, &owner, {owner.volume});
    VideoFramePtr frame(new VideoFrame("", 7), false);
    frame->m_sFileId = "first";
    ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadFirst, nullptr, 0), 1);
    EXPECT_EQ(frame->m_nWidth, 178);
    EXPECT_EQ(frame->m_nHeight, 144);
    EXPECT_EQ(frame->m_nFormat, 0);
    EXPECT_EQ(frame->m_cbData, static_cast<uint32_t>((frame->m_bColor + 1) * 25632));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(frame->m_pData)), "password error");
}

TEST_F(FileReaderTest, AOneFramePlayIsDeliveredAndEnds) {
    AddFile(1, t0, 1);
    FileReader reader(nullptr, 7, &owner, {owner.volume});
    VideoFramePtr frame(new VideoFrame("", 7), false);
    frame->m_sFileId = "first";
    ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadFirst, nullptr, 0), 1);
    reader.ReadFrame(frame.get(), FileReader::ReadPrev, nullptr, 0);  // nothing before: stays open
    EXPECT_EQ(frame->m_nTotalFrames, 1);

    // Reopened with the position before frame 0: the play delivers it (the
    // progress line of a one-frame file divides by nothing) and ends.
    FileReader fresh(nullptr, 7, &owner, {owner.volume});
    ASSERT_EQ(fresh.OpenEntryFile(owner.dir->GetFirstEntry()), 1);
    EXPECT_EQ(fresh.OpenEntryFile(owner.dir->GetFirstEntry()), 1);  // already open
    auto receiver = std::make_shared<Receiver>();
    ASSERT_EQ(fresh.StartPlay(receiver, 1, 0, 0, 1, 0), 1);
    ASSERT_TRUE(receiver->WaitFor("PLAY_STOP"));
    std::lock_guard<std::mutex> lock(receiver->mutex);
    EXPECT_EQ(receiver->numbers, std::vector<int>{0});
    EXPECT_EQ(receiver->types.front(), "CAM");
}

TEST_F(FileReaderTest, PlayWaitsAtTheGrowingNewestFile) {
    testsupport::ArchiveFileOptions growing;
    growing.closeFlag = 1;
    AddFile(1, t0, 2, growing);
    FileReader reader(nullptr, 7, &owner, {owner.volume});
    ASSERT_EQ(reader.OpenEntryFile(owner.dir->GetFirstEntry()), 1);
    auto receiver = std::make_shared<Receiver>();
    ASSERT_EQ(reader.StartPlay(receiver, 1, 0, 0, 0, 0), 1);
    // Both frames come, then the reader keeps waiting instead of ending.
    EXPECT_FALSE(receiver->WaitFor("PLAY_STOP", std::chrono::seconds(2)));
    {
        std::lock_guard<std::mutex> lock(receiver->mutex);
        EXPECT_EQ(receiver->numbers, (std::vector<int>{0, 1}));
    }
    EXPECT_EQ(reader.StopPlay(), 1);
    EXPECT_TRUE(receiver->WaitFor("PLAY_STOPPED"));
    EXPECT_FALSE(reader.IsRunning());
}

TEST_F(FileReaderTest, PreviousAtTheStartOfAFileMovesToThePreviousFile) {
    AddFile(1, t0, 5);
    const std::string second = AddFile(2, t0 + 60000, 5);
    FileReader reader(nullptr, 7, &owner, {owner.volume});
    VideoFramePtr frame(new VideoFrame("", 7), false);
    frame->m_sFileId = second;
    ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadFirst, nullptr, 0), 1);
    EXPECT_EQ(frame->m_nFrameNumber, 0);
    // Right after a file is opened, code 1 fails in it and the request goes
    // on in the previous file with its last frame.
    ASSERT_TRUE(reader.CloseFile(nullptr));
    ASSERT_EQ(reader.OpenEntryFile(owner.dir->GetLastEntry()), 1);
    frame->m_sFileId.clear();
    ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadPrev, nullptr, 0), 1);
    EXPECT_EQ(frame->m_nFrameNumber, 4);
    EXPECT_EQ(frame->m_nTotalFrames, 5);
    EXPECT_NE(frame->m_sFileId, second);
    EXPECT_EQ(reader.CloseFile("/elsewhere"), 0);
}

TEST_F(FileReaderTest, ATimeAfterTheLastFrameLeavesThePositionAtThatFrame) {
    // With and without a usable index: the frame read is the position, so the
    // next step back gives the frame before it.
    for (const auto form : {testsupport::IndexForm::None, testsupport::IndexForm::Portable}) {
        testsupport::ArchiveFileOptions options;
        options.index = form;
        const std::string path = AddFile(form == testsupport::IndexForm::None ? 1 : 2,
                                         t0 + (form == testsupport::IndexForm::None ? 0 : 600000), 5, options);
        FileReader reader(nullptr, 7, &owner, {owner.volume});
        VideoFramePtr frame(new VideoFrame("", 7), false);
        frame->m_sFileId = path;
        ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadFirst, nullptr, 0), 1);
        frame->m_sFileId = path;
        frame->m_tssTime = testsupport::LocalTss(t0 + (form == testsupport::IndexForm::None ? 0 : 600000) + 5000);
        ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadTime, nullptr, 0), 1);
        EXPECT_EQ(frame->m_nFrameNumber, 4);
        frame->m_sFileId = path;
        ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadPrev, nullptr, 0), 1);
        EXPECT_EQ(frame->m_nFrameNumber, 3) << "index form " << static_cast<int>(form);
    }
}

TEST_F(FileReaderTest, ARateLimitedPlayDeliversOnlyKeyFramesOfPredictedCodecs) {
    AddFile(1, t0, 12);  // a key frame every 5 frames
    FileReader reader(nullptr, 7, &owner, {owner.volume});
    ASSERT_EQ(reader.OpenEntryFile(owner.dir->GetFirstEntry()), 1);
    auto receiver = std::make_shared<Receiver>();
    ASSERT_EQ(reader.StartPlay(receiver, 1, 25, 0, 1, 0), 1);
    ASSERT_TRUE(receiver->WaitFor("PLAY_STOP"));
    std::lock_guard<std::mutex> lock(receiver->mutex);
    EXPECT_EQ(receiver->numbers, (std::vector<int>{0, 5, 10}));
}

}  // namespace
