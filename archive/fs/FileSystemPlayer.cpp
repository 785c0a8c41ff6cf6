// Player-interface slots that drive a channel's reader: play, stop, speed,
// pause, deleting the current file, the file of a time and the play token.
// Each needs the volumes (except the token) and reaches the reader through
// GetReader, which creates a missing one.

#include "archive/fs/FileSystem.h"

int FileSystem::StartPlay(const std::string& slaveId, int camera, ReceiverPtr receiver, int crossFiles,
                          int rateLimit, int value, int noWait, int direction) {
    if (GetVolumeCount() == 0) return 0;
    std::shared_ptr<FileReader> reader = GetReader(slaveId, camera);
    const size_t arch = slaveId.find(".ARCH");
    reader->SetArchiveClient(arch != std::string::npos && arch > 0 ? 1 : 0);
    return reader->StartPlay(std::move(receiver), crossFiles, rateLimit, value, noWait, direction);
}

int FileSystem::StopPlay(const std::string& slaveId, int camera) {
    if (GetVolumeCount() == 0) return 0;
    if (camera >= 0) return GetReader(slaveId, camera)->StopPlay();
    std::vector<std::shared_ptr<FileReader>> stopped;
    {
        SyncLock lock(m_readersLock);
        for (auto it = m_readers.begin(); it != m_readers.end();) {
            const std::string& key = it->first;
            const bool ofSlave = key.size() > slaveId.size() && key.compare(0, slaveId.size(), slaveId) == 0 &&
                                 (key[slaveId.size()] == '\\' || key[slaveId.size()] == '!');
            if (ofSlave) {
                it->second->StopPlay();
                stopped.push_back(it->second);
                it = m_readers.erase(it);
            } else {
                ++it;
            }
        }
    }
    return 1;
}

void FileSystem::SetSpeed(const std::string& slaveId, int camera, double speed) {
    if (!m_adaptivePlayer || GetVolumeCount() == 0) return;
    GetReader(slaveId, camera)->SetSpeed(speed);
}

int FileSystem::SetReaderEvent(const std::string& slaveId, int camera) {
    if (GetVolumeCount() == 0) return 0;
    return GetReader(slaveId, camera)->Pause();
}

int FileSystem::ResetReaderEvent(const std::string& slaveId, int camera) {
    if (GetVolumeCount() == 0) return 0;
    return GetReader(slaveId, camera)->Resume();
}

int FileSystem::DeleteCurrentFile(const std::string& slaveId, int camera) {
    if (GetVolumeCount() == 0) return 0;
    return GetReader(slaveId, camera)->DeleteCurrentFile();
}

std::string FileSystem::GetFilePath(const std::string& slaveId, int camera, std::string& timeText) {
    if (GetVolumeCount() == 0) return std::string();
    return GetReader(slaveId, camera)->GetFilePathForTime(timeText);
}

void FileSystem::SetReaderToken(const std::string& slaveId, const std::string& /*unused*/, int camera,
                                const std::string& token) {
    GetReader(slaveId, camera)->SetToken(token);
}
