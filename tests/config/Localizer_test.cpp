// Culture directory search, translations and the OEM file.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTranslator>
#include <QXmlStreamReader>

#include "config/ApplicationTexts.h"
#include "config/QApplicationSettings.h"
#include "config/QLocalizer.h"
#include "config/QOemSettings.h"
#include "support/TempDir.h"

using gavex_test::TempDir;
using gavex_test::WriteFileString;

namespace {

class FixedFolder : public IQLocalizerPathResolver {
public:
    explicit FixedFolder(QString folder) : m_folder(std::move(folder)) {}
    QString GetPath() override { return m_folder; }

private:
    QString m_folder;
};

TEST(Localizer, LibraryIsFoundInTheStartFolderAndThreeParents)
{
    TempDir dir("culture");
    const std::string deep = dir / "a/b/c/d";
    std::filesystem::create_directories(deep);
    EXPECT_EQ(FindLibraryUpwards(deep), "") << "none anywhere";
    for (const auto& [where, found] : {std::pair{"a/b/c/d", true}, std::pair{"a/b", true}, std::pair{"a", true},
                                       std::pair{"", false}}) {
        SCOPED_TRACE(where);
        const std::string folder = std::string(where).empty() ? dir.path() : dir / where;
        WriteFileString(folder + "/" + kCultureLibraryName, "");
        EXPECT_EQ(FindLibraryUpwards(deep), found ? folder : "");
        std::filesystem::remove(folder + "/" + kCultureLibraryName);
    }
}

TEST(Localizer, CultureDirectoryFromTheLibrary)
{
    // The library built beside the tests answers with its error for a folder
    // without configuration; a folder without the library gives 520.
    TempDir dir("culture");
    std::u16string directory;
    const unsigned result = LoadCultureDirectory(dir.path(), directory);
    EXPECT_TRUE(result == kCultureLibraryMissing || result == 514u) << result;
    EXPECT_TRUE(directory.empty());
}

TEST(Localizer, TranslationFileTranslatesTheTexts)
{
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    EXPECT_EQ(PasswordPromptText(), "Enter password:");

    TempDir empty("culture");
    QLocalizer& localizer = QLocalizer::Instance();
    localizer.SetResolver(nullptr);
    QTranslator unused;
    EXPECT_FALSE(localizer.InstallTranslator(unused, "GavexPlayer.qm")) << "no resolver";
    localizer.SetResolver(std::make_shared<FixedFolder>(QString::fromStdString(empty.path())));
    localizer.LoadTranslations();
    EXPECT_EQ(PasswordPromptText(), "Enter password:") << "no translation files";

    localizer.SetResolver(std::make_shared<FixedFolder>(GAVEX_TEST_BINARY_DIR "/config-culture"));
    localizer.LoadTranslations();
    EXPECT_EQ(PasswordPromptText(), QString::fromUtf8("Passwort eingeben:"));
    EXPECT_EQ(InvalidPasswordText(), QString::fromUtf8("Ungültiges Passwort!"));
    EXPECT_EQ(TimestampFormat(), "%X\n %x") << "formats are not translated";
    EXPECT_EQ(ApplicationDisplayName(), "Gavex Player");
    QApplicationSettings::Instance().AppTitle = L"Site 4";
    EXPECT_EQ(ApplicationDisplayName(), "Site 4");
    QApplicationSettings::Instance().AppTitle.clear();
}

TEST(OemSettings, ShowAllVideoSourceElement)
{
    const struct {
        const char* xml;
        bool flag;
    } cases[] = {
        {"<oem><ShowAllVideoSource>2</ShowAllVideoSource></oem>", true},
        {"<oem><a><b><ShowAllVideoSource>1</ShowAllVideoSource></b></a></oem>", true},
        {"<oem><ShowAllVideoSource>0</ShowAllVideoSource></oem>", false},
        {"<oem><ShowAllVideoSource>yes</ShowAllVideoSource></oem>", false},
        {"<oem><Other>1</Other></oem>", false},
        {"<oem><ShowAllVideoSource>1</ShowAllVideoSource><broken", true},  // read before the error
    };
    for (const auto& c : cases) {
        QOemSettings oem;
        QXmlStreamReader reader(QByteArray(c.xml));
        oem.Parse(reader);
        EXPECT_EQ(oem.ShowAllVideoSource, c.flag) << c.xml;
    }
    TempDir dir("oem");
    QOemSettings fromFile;
    fromFile.FilePath = QString::fromStdString(dir / "oem.properties.xml");
    fromFile.Load();
    EXPECT_FALSE(fromFile.ShowAllVideoSource) << "a missing file is only logged";
    WriteFileString(dir / "oem.properties.xml", "<?xml version=\"1.0\"?><p><ShowAllVideoSource>1</ShowAllVideoSource></p>");
    fromFile.Load();
    EXPECT_TRUE(fromFile.ShowAllVideoSource);
}

}  // namespace
