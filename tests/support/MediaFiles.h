// Media files made by the ffmpeg tool at test time, and the recinfo text that
// exported media files carry in their "comment". Header-only: the suites and
// benchmarks that include it link the media library (boost serialization,
// Crypto++) themselves.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include <boost/archive/xml_oarchive.hpp>
#include <cryptopp/base64.h>
#include <cryptopp/filters.h>

#include "archive/fs/RecInfo.h"

extern char** environ;

namespace gavex_test {

// Runs a program found on PATH with these arguments, stdin from /dev/null,
// without a shell (arguments may hold quotes and line breaks). True when it
// exits with 0.
inline bool RunProgram(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// ffmpeg with the given arguments after its quiet, overwriting preamble.
inline bool RunFfmpeg(const std::vector<std::string>& args)
{
    std::vector<std::string> all = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"};
    all.insert(all.end(), args.begin(), args.end());
    return RunProgram(all);
}

// Arguments of a test picture source of `seconds` at `rate` frames per
// second, as ffmpeg's input number `input` is concerned.
inline std::vector<std::string> TestVideoInput(double seconds, int rate = 10, const std::string& size = "64x48")
{
    return {"-f", "lavfi", "-t", std::to_string(seconds), "-i",
            "testsrc2=size=" + size + ":rate=" + std::to_string(rate)};
}

inline std::vector<std::string> TestAudioInput(double seconds)
{
    return {"-f", "lavfi", "-t", std::to_string(seconds), "-i", "sine=frequency=440:sample_rate=8000"};
}

// The recinfo document as the exporting program writes it.
inline std::string RecInfoXml(const VindaraFileSystem::AviFileData& data)
{
    std::ostringstream out;
    {
        boost::archive::xml_oarchive archive(out);
        archive << boost::serialization::make_nvp("recinfo", data);
    }
    return out.str();
}

inline std::string Base64Encode(const std::string& bytes)
{
    std::string encoded;
    CryptoPP::StringSource(bytes, true, new CryptoPP::Base64Encoder(new CryptoPP::StringSink(encoded), false));
    return encoded;
}

}  // namespace gavex_test
