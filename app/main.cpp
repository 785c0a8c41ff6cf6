#include "app/GavexPlayer.h"
#include "base/ProcessValues.h"

int main(int argc, char** argv)
{
    // Process-wide values (crash handler first) come before anything else runs.
    InitProcessValues();
    GavexPlayer player;
    return player.Run(argc, argv);
}
