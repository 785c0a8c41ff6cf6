// Running a task once per volume: on the calling thread and on threads for
// the further volumes, or all in turn on the calling thread; every volume is
// run even when one task throws, and the failure reaches the caller.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "archive/fs/FileSystem.h"

namespace {

using Runner = void (*)(const VolumePathMap&, const std::function<void(const VolumePath&)>&);

struct RunnerCase {
    const char* name;
    Runner run;
    bool othersOnOwnThreads;
};

const RunnerCase kRunners[] = {
    {"parallel", &ForEachVolumeInParallel, true},
    {"in turn", &ForEachVolumeInTurn, false},
};

TEST(VolumeTasksTest, EveryVolumeRunsOnceAndTheFirstVolumeOnTheCaller) {
    const VolumePathMap volumes{{0, "/a"}, {1, "/b"}, {4, "/c"}};
    for (const RunnerCase& c : kRunners) {
        SCOPED_TRACE(c.name);
        std::mutex mutex;
        std::map<uint8_t, std::string> seen;
        std::map<uint8_t, std::thread::id> threads;
        c.run(volumes, [&](const VolumePath& v) {
            std::lock_guard<std::mutex> lock(mutex);
            EXPECT_TRUE(seen.emplace(v.first, v.second).second) << int(v.first);
            threads[v.first] = std::this_thread::get_id();
        });
        EXPECT_EQ(seen, (std::map<uint8_t, std::string>(volumes.begin(), volumes.end())));
        EXPECT_EQ(threads[0], std::this_thread::get_id());
        EXPECT_EQ(threads[1] != std::this_thread::get_id(), c.othersOnOwnThreads);
        EXPECT_EQ(threads[4] != std::this_thread::get_id(), c.othersOnOwnThreads);
    }
}

TEST(VolumeTasksTest, AFailingTaskStopsNoOtherVolumeAndReachesTheCaller) {
    const VolumePathMap volumes{{0, "/a"}, {1, "/b"}, {2, "/c"}};
    for (const RunnerCase& c : kRunners) {
        for (uint8_t failing : {uint8_t(0), uint8_t(1), uint8_t(2)}) {
            SCOPED_TRACE(std::string(c.name) + ", volume " + std::to_string(failing) + " fails");
            std::mutex mutex;
            int runs = 0;
            try {
                c.run(volumes, [&](const VolumePath& v) {
                    {
                        std::lock_guard<std::mutex> lock(mutex);
                        ++runs;
                    }
                    if (v.first == failing) throw std::runtime_error(v.second);
                });
                ADD_FAILURE() << "no exception";
            } catch (const std::runtime_error& ex) {
                EXPECT_EQ(std::string(ex.what()), volumes.at(failing));
            }
            EXPECT_EQ(runs, 3);
        }
    }
}

TEST(VolumeTasksTest, NoVolumesRunsNothing) {
    for (const RunnerCase& c : kRunners) {
        int runs = 0;
        c.run({}, [&](const VolumePath&) { ++runs; });
        EXPECT_EQ(runs, 0) << c.name;
    }
}

}  // namespace
