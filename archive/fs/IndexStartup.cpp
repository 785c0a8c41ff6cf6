// Index start-up: load the volumes' indexes or rebuild them, with progress.

#include "archive/fs/IndexStartup.h"

#include <chrono>
#include <cmath>

#include <boost/format.hpp>

#include "base/Log.h"
#include "base/Registry.h"

namespace {

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

constexpr const char* kVideoKey = "SOFTWARE\\QOR\\Vindara\\Video";

int ReadVideoInt(const char* name) {
    RegistryKey key(kVideoKey, false, RegistryKey::kRead | RegistryKey::kWow64_32Key);
    return key.IsOpen() ? key.ReadInt(name, 0) : 0;
}

}  // namespace

int ReadIndexRebuilding() { return ReadVideoInt("IndexRebuilding"); }

int ReadCheckLostFolders() { return ReadVideoInt("CheckLostFolders"); }

void WriteIndexRebuilding(int value) {
    RegistryKey key(kVideoKey, true, RegistryKey::kAllAccess | RegistryKey::kWow64_32Key);
    // A value that cannot be written stays as it was; nothing is reported.
    if (key.IsOpen()) key.WriteInt("IndexRebuilding", value);
}

std::string JoinPaths(const VolumePathMap& volumes) {
    std::string joined;
    for (const auto& v : volumes) {
        if (!joined.empty()) joined += ";";
        joined += v.second;
    }
    return joined;
}

void RebuildProgress::operator()(uint64_t done, uint64_t total) {
    if (total == 0) {
        m_emit(0);
        return;
    }
    const auto percent =
        static_cast<uint64_t>(std::floor(static_cast<double>(done) * 100.0 / static_cast<double>(total) + 0.5));
    if (percent == m_last) return;
    m_last = percent;
    m_emit(percent);
}

void FileSystem::InitIndexes() {
    bool rebuild = m_forceIndexRebuild != 0 || ReadIndexRebuilding() != 0;
    Log()->Message("[FS][INIT] \\SOFTWARE_QOR_Vindara_Video\\IndexRebuilding=%s", rebuild ? "1" : "0");
    if (!rebuild) {
        // One look at the switch for both checks.
        const bool checkLost = ReadCheckLostFolders() == 1;
        rebuild = CheckEmptyFolders(checkLost);
        if (!rebuild) rebuild = !CheckLostIndexFiles(checkLost);
    }

    std::set<uint8_t> failed;
    if (!rebuild) {
        for (const auto& [volume, loaded] : LoadIndexes())
            if (!loaded) failed.insert(volume);
        rebuild = !failed.empty();
    }
    m_progressStep = 40.0;
    if (rebuild) {
        RebuildIndexes(failed);
        m_progressStep = 0;
    }
    m_progressStep += 40.0;
    SetProgress(m_progress + m_progressStep);
}

void FileSystem::RebuildIndexes(const std::set<uint8_t>& failed) {
    WriteIndexRebuilding(1);
    VolumePathMap volumes = GetVolumePaths();
    if (!failed.empty()) {
        for (auto it = volumes.begin(); it != volumes.end();)
            it = failed.count(it->first) ? std::next(it) : volumes.erase(it);
    } else {
        ClearCameraDirs();
    }
    const std::string joined = JoinPaths(volumes);
    Log()->Message("[FS] %s:: rebuilding indexes on '%s' ... ", m_name.c_str(), joined.c_str());
    const auto started = std::chrono::steady_clock::now();

    const double share = volumes.empty() ? 0.0 : m_progressStep / static_cast<double>(volumes.size());
    const double target = m_progress + m_progressStep;

    RebuildTask task;
    task.fileSystem = this;
    task.progressShare = share;
    task.volumesCounting = volumes.size();
    task.progress = RebuildProgress([this](uint64_t percent) { RebuildProgressChanged(percent); });
    ForEachVolumeInParallel(volumes, [this, &task](const VolumePath& v) { RebuildVolumeIndexes(task, v); });

    SetProgress(target);
    if (volumes.empty())
        Log()->Message("[FS][INDEX] %s:: rebuilding indexes FAILED. No disk mounted.", m_name.c_str());
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    Log()->Message(boost::format("[FS] %1%:: indexes rebuilt on '%2%'. %3% entries added. Duration %4% ms.") % m_name %
                   joined % task.entriesTotal % ms);
    WriteIndexRebuilding(0);
}
