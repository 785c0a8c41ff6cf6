#include "config/FolderBrowser.h"

#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace {

TEST(FolderBrowser, AChosenFolderComesBackCanonicalWithOneTrailingSlash)
{
    gavex_test::TempDir dir("folder-browser");
    std::filesystem::create_directories(dir / "real/inner");
    ASSERT_EQ(::symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
    const QString real = QString::fromStdString(std::filesystem::canonical(dir / "real").string());
    const struct {
        QString chosen;
        QString result;
    } cases[] = {
        {QString::fromStdString(dir / "real"), real + "/"},
        {QString::fromStdString(dir / "real/"), real + "/"},
        {QString::fromStdString(dir / "link"), real + "/"},              // links resolved
        {QString::fromStdString(dir / "real/inner/.."), real + "/"},     // dots resolved
        {"/", "/"},                                                      // the root keeps its one slash
        {"", ""},
        {QString::fromStdString(dir / "gone"), ""},                      // removed meanwhile
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChosenFolderResult(c.chosen), c.result) << c.chosen.toStdString();
}

}  // namespace
