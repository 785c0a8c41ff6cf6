#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

struct ProbeResult {
    int chosen = -1;
    int detected = -1;
};

// Runs the probe with the given environment assignment ("" for none).
ProbeResult RunProbe(const std::string& environment)
{
    const std::string command =
        "env -u GAVEX_PRIMITIVES_VARIANT " + environment + " '" GAVEX_TEST_TOOLS_DIR "/primitives_variant_probe'";
    ProbeResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return result;
    if (std::fscanf(pipe, "%d %d", &result.chosen, &result.detected) != 2)
        result = {};
    pclose(pipe);
    return result;
}

}  // namespace

TEST(StartupVariant, BestSlotIsChosenAtStartAndTheEnvironmentCapsIt)
{
    const ProbeResult plain = RunProbe("");
    ASSERT_GE(plain.detected, 0);
    EXPECT_EQ(plain.chosen, plain.detected);

    struct Case {
        const char* environment;
        int expected;
    };
    const Case cases[] = {
        {"GAVEX_PRIMITIVES_VARIANT=0", 0},
        {"GAVEX_PRIMITIVES_VARIANT=2", plain.detected < 2 ? plain.detected : 2},
        {"GAVEX_PRIMITIVES_VARIANT=9", plain.detected},   // a cap never raises the slot
        {"GAVEX_PRIMITIVES_VARIANT=-1", plain.detected},  // nonsense is ignored
        {"GAVEX_PRIMITIVES_VARIANT=abc", plain.detected},
    };
    for (const auto& c : cases) {
        const ProbeResult r = RunProbe(c.environment);
        EXPECT_EQ(r.chosen, c.expected) << c.environment;
        EXPECT_EQ(r.detected, plain.detected) << c.environment;
    }
}
