// Resource paths beside the executable.

#include <QCoreApplication>
#include <gtest/gtest.h>

#include "config/ResourcePaths.h"

TEST(ResourcePaths, ResourcesSitInTheResourcesFolderOfTheRoot)
{
    EXPECT_EQ(ResourcesDirectory("/opt/gavex/"), "/opt/gavex/Resources/");
    EXPECT_EQ(ResourcePath("/opt/gavex/", "QSlider/QAudioSlider.css"), "/opt/gavex/Resources/QSlider/QAudioSlider.css");
    EXPECT_EQ(BackgroundImagePath("/opt/gavex/"), "/opt/gavex/Resources/Back_main.png");
    int argc = 1;
    char name[] = GAVEX_TEST_BINARY_DIR "/test_config";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    EXPECT_EQ(ApplicationDirectory(), QCoreApplication::applicationDirPath() + "/");
}
