// The source browser over real sources: an exported archive folder of three
// channels, a folder of two media files made by ffmpeg, an empty folder and
// an archive drive that opens on the engine's worker.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QWheelEvent>

#include "config/QApplicationSettings.h"
#include "config/QOemSettings.h"
#include "widgets/QCustomComboBox.h"
#include "widgets/QCustomInputs.h"
#include "widgets/QCustomProgressBar.h"
#include "widgets/QRollBox.h"
#include "gui/sources/QNavigationPanel.h"
#include "gui/sources/SourceModels.h"
#include "gui/sources/SourceTargetWidgets.h"
#include "media/VideoSourceInterfaces.h"
#include "playback/AudioPlayer.h"
#include "playback/AudioSink.h"
#include "playback/PlaybackGui.h"
#include "playback/PlayersController.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"
#include "support/MediaFiles.h"
#include "support/RecordingDevice.h"
#include "support/TempDir.h"
#include "GuiTestApp.h"
#include "support/SilentSink.h"

namespace {

namespace fs = std::filesystem;
using Sources = std::vector<boost::shared_ptr<filters::IVideoSource>>;

constexpr int64_t kStart = 1551675967000;  // 2019-03-04 05:06:07 UTC

struct Fixture {
    gavex_test::TempDir dir{"browser"};
    std::string archive, media, empty, drive;
    bool ok = true;

    Fixture()
    {
        archive = dir / "archive";
        media = dir / "media";
        empty = dir / "empty";
        drive = dir / "drive";
        for (const std::string& folder : {archive, media, empty, dir / "frames"})
            fs::create_directories(folder);
        const auto frames = testsupport::GenerateMjpegFrames(dir / "frames", 5, kStart, 200);
        ok = frames.size() == 5;
        for (int camera : {1, 2, 3})
            testsupport::WriteBytes(archive + "/" + testsupport::ArchiveFileName(camera, 1),
                                    testsupport::BuildArchiveFile(frames));
        for (const char* name : {"Gate 2019-03-04 05-06-07_000.mkv", "Yard 2019-03-04 06-00-00_000.mkv"}) {
            std::vector<std::string> args = gavex_test::TestVideoInput(2.0, 10, "64x48");
            args.insert(args.end(), {"-c:v", "libx264", "-pix_fmt", "yuv420p", media + "/" + name});
            ok = ok && gavex_test::RunFfmpeg(args);
        }
        gavex_test::WriteFileString(empty + "/notes.txt", "no video here");
        testsupport::ArchiveTree tree(drive);
        for (int camera : {4, 5})
            tree.Add({camera, 1, kStart, kStart + 60000});
        tree.WriteIndexes();
    }
};

Fixture& Files()
{
    static Fixture fixture;
    return fixture;
}

class SourceBrowserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        guitest::Application();
        ASSERT_TRUE(Files().ok) << "ffmpeg could not make the fixture";
        QOemSettings::Instance().ShowAllVideoSource = true;
        m_panel = std::make_unique<QNavigationPanel>(nullptr, [] {
            return std::vector<std::string>{Files().drive + "/"};
        });
        m_panel->Setup();
        m_panel->SourcesApplied.connect([this](ISourceConfiguration& applied) {
            m_applied = applied.GetVideoSources();
            m_appliedFileSystem = static_cast<bool>(applied.GetFileSystem());
            m_appliedMode = applied.GetSourceMode();
        });
    }

    // Shows the page of a mode with the path remembered for it.
    void Show(int mode, const std::string& path)
    {
        SettingsProfile& live = QApplicationSettings::Instance().Live;
        live.SourceMode = mode;
        live.VideoFolders[mode] = {QString::fromStdString(path).toStdWString()};
        m_panel->LoadData();
        ASSERT_EQ(m_panel->GetSourceMode(), mode);
    }

    QStringList Texts() const
    {
        QStringList texts;
        for (int i = 0; i < m_panel->VideoList()->count(); ++i)
            texts << m_panel->VideoList()->item(i)->text();
        return texts;
    }

    Sources ListedSources() const
    {
        Sources sources;
        for (const auto& entry : m_panel->Channels())
            sources.push_back(entry.source);
        return sources;
    }

    static bool WaitFor(const std::function<bool()>& done)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > 20000)
                return false;
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }

    std::unique_ptr<QNavigationPanel> m_panel;
    Sources m_applied;
    bool m_appliedFileSystem = false;
    int m_appliedMode = -1;
};

TEST_F(SourceBrowserTest, ArchiveFolderListsSearchesAndAppliesChannels)
{
    Show(ISourceConfiguration::FOLDER, Files().archive);
    ASSERT_TRUE(m_panel->RefreshButton()->isEnabled());
    m_panel->RefreshButton()->click();

    // The folder opens synchronously: the list is there when the click returns.
    const QStringList texts = Texts();
    ASSERT_EQ(texts.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const auto& entry = m_panel->Channels()[static_cast<size_t>(i)];
        // Archive channels have no description: the name and a line feed.
        EXPECT_EQ(texts[i], QString::fromStdWString(entry.source->GetName()) + "\n");
        EXPECT_FALSE(entry.thumbnail.isNull()) << i;
        EXPECT_EQ(entry.thumbnail.size(), QSize(150, 112));  // 160x120 kept in proportion
        EXPECT_TRUE(m_panel->VideoList()->item(i)->isSelected());
    }
    EXPECT_TRUE(m_panel->IsDataChanged());
    EXPECT_TRUE(m_panel->RefreshButton()->isEnabled());
    EXPECT_EQ(m_panel->ProgressBar()->Value(), 100);
    EXPECT_TRUE(QApplicationSettings::Instance().Live.SourceNativeVideo.load());
    EXPECT_TRUE(QApplicationSettings::Instance().Live.ExportVideo.load());

    // The search keeps the channels whose name holds the text.
    const QString second = QString::fromStdWString(m_panel->Channels()[1].source->GetName());
    m_panel->SearchEdit()->setText(second);
    ASSERT_EQ(Texts(), QStringList{second + "\n"});
    m_panel->SearchEdit()->setText("no such channel");
    EXPECT_TRUE(Texts().isEmpty());
    EXPECT_FALSE(m_panel->IsDataChanged());
    m_panel->SearchEdit()->clear();
    ASSERT_EQ(Texts(), texts);

    // Apply with two of three selected passes exactly those, in list order.
    m_panel->VideoList()->item(0)->setSelected(true);
    m_panel->VideoList()->item(2)->setSelected(true);
    EXPECT_TRUE(m_panel->IsDataChanged());
    m_panel->SaveData();
    const Sources listed = ListedSources();
    EXPECT_EQ(m_applied, (Sources{listed[0], listed[2]}));
    EXPECT_TRUE(m_appliedFileSystem);
    EXPECT_EQ(m_appliedMode, ISourceConfiguration::FOLDER);
    EXPECT_EQ(QApplicationSettings::Instance().Live.VideoFolders[ISourceConfiguration::FOLDER],
              std::vector<std::wstring>{QString::fromStdString(Files().archive).toStdWString()});
}

TEST_F(SourceBrowserTest, MediaFolderDescribesEachFileThenEmptyFolderListsNothing)
{
    Show(ISourceConfiguration::AVI_FILES, Files().media);
    m_panel->RefreshButton()->click();
    QStringList texts = Texts();
    ASSERT_EQ(texts.size(), 2);
    const QStringList gate = texts[0].split('\n');
    ASSERT_EQ(gate.size(), 6) << texts[0].toStdString();  // the name and five lines
    EXPECT_EQ(gate[0], "Gate");
    EXPECT_EQ(gate[1], "Codec: H264");
    EXPECT_EQ(gate[2], "Resolution: 64x48");
    EXPECT_EQ(gate[3], "Begin: 03/04/19 05:06:07");
    EXPECT_EQ(gate[4], "End: 03/04/19 05:06:09");
    EXPECT_EQ(gate[5], "Duration: 00:00:02 (h:m:s)");
    EXPECT_TRUE(texts[1].startsWith("Yard\nCodec: H264\n"));

    // Search ignores the letter case of either side.
    const struct {
        const char* text;
        QStringList names;
    } searches[] = {{"gATE", {"Gate"}}, {"A", {"Gate", "Yard"}}, {"yaR", {"Yard"}}, {"", {"Gate", "Yard"}}};
    for (const auto& search : searches) {
        m_panel->SearchEdit()->setText(search.text);
        QStringList names;
        for (const QString& text : Texts())
            names << text.section('\n', 0, 0);
        EXPECT_EQ(names, search.names) << search.text;
    }
    m_panel->VideoList()->selectAll();
    for (const auto& entry : m_panel->Channels())
        EXPECT_EQ(entry.thumbnail.size(), QSize(150, 112));
    EXPECT_EQ(m_panel->VideoList()->selectedItems().size(), 2);
    EXPECT_FALSE(m_panel->GetFileSystem());
    EXPECT_FALSE(QApplicationSettings::Instance().Live.SourceNativeVideo.load());

    // A folder without video lists nothing and Apply is off.
    auto page = std::dynamic_pointer_cast<model::SingleSourceTargetModel>(m_panel->CurrentModel());
    ASSERT_TRUE(page);
    page->SetPath(QString::fromStdString(Files().empty));
    m_panel->RefreshButton()->click();
    EXPECT_TRUE(Texts().isEmpty());
    EXPECT_TRUE(m_panel->GetVideoSources().empty());
    EXPECT_FALSE(m_panel->IsDataChanged());
    ASSERT_TRUE(m_panel->RefreshButton()->isEnabled());

    // Refresh works again.
    page->SetPath(QString::fromStdString(Files().media));
    m_panel->RefreshButton()->click();
    EXPECT_EQ(Texts().size(), 2);
    EXPECT_EQ(m_panel->GetVideoSources().size(), 2u);
}

using NoSound = testsupport::SilentSink;

// The players controller builds its players from the applied panel: one per
// selected channel.
TEST_F(SourceBrowserTest, AppliedChannelsBecomeThePlayers)
{
    auto audio = std::make_shared<filters::AudioPlayer>(std::make_unique<NoSound>(), utils::MonotonicTick, false);
    playback::PlayersController controller(
        playback::HeadlessGui::Bundle(std::make_shared<playback::HeadlessGui>()),
        playback::MakePlaybackRenderer(boost::make_shared<testsupport::RecordingDevice>()), audio);
    m_panel->SourcesApplied.connect(
        [&controller](ISourceConfiguration& applied) { controller.LoadSources(applied, 0, false); });

    Show(ISourceConfiguration::FOLDER, Files().archive);
    m_panel->RefreshButton()->click();
    ASSERT_EQ(Texts().size(), 3);
    m_panel->VideoList()->item(1)->setSelected(false);
    m_panel->SaveData();
    EXPECT_EQ(controller.GetPlayers().size(), 2u);
    EXPECT_EQ(QApplicationSettings::Instance().Live.Channels, (std::vector<std::wstring>{L"1", L"3"}));
    EXPECT_EQ(QApplicationSettings::Instance().Live.SourceMode.load(), ISourceConfiguration::FOLDER);
}

// While a new source opens, the channels of the previous one are gone: an
// Apply then cannot pair them with the new file system.
TEST_F(SourceBrowserTest, RefreshEmptiesTheListBeforeTheNewSourceOpens)
{
    Show(ISourceConfiguration::FOLDER, Files().archive);
    m_panel->RefreshButton()->click();
    ASSERT_EQ(Texts().size(), 3);

    SettingsProfile& live = QApplicationSettings::Instance().Live;
    live.VideoFolders[ISourceConfiguration::DRIVES] = {QString::fromStdString(Files().drive + "/").toStdWString()};
    m_panel->SelectSourceMode(ISourceConfiguration::DRIVES);
    ASSERT_EQ(m_panel->Model(ISourceConfiguration::DRIVES)->GetPaths().size(), 1u);
    EXPECT_TRUE(m_panel->DrivesView()->isVisibleTo(m_panel.get()));
    EXPECT_FALSE(m_panel->TargetWidget(ISourceConfiguration::FOLDER)->isVisibleTo(m_panel.get()));
    m_panel->RefreshButton()->click();
    EXPECT_TRUE(m_panel->GetVideoSources().empty());
    EXPECT_FALSE(m_panel->IsDataChanged());

    ASSERT_TRUE(WaitFor([&] { return m_panel->RefreshButton()->isEnabled(); }));
    EXPECT_EQ(Texts().size(), 2);
    // The drive's files hold no frames: the channels are listed without a
    // thumbnail.
    for (const auto& entry : m_panel->Channels())
        EXPECT_TRUE(entry.thumbnail.isNull());
    EXPECT_TRUE(m_panel->GetFileSystem());
    EXPECT_EQ(m_panel->GetVideoSources().size(), 2u);
}

TEST_F(SourceBrowserTest, ViewModeButtonsAndModesWithoutAPage)
{
    QApplicationSettings& settings = QApplicationSettings::Instance();
    auto* listButton = m_panel->findChild<QRadioButton*>("listButton");
    auto* detailButton = m_panel->findChild<QRadioButton*>("detailButton");
    ASSERT_TRUE(listButton && detailButton);
    for (int mode : {0, 1}) {
        settings.VideoSequenceItemViewMode = mode;
        Show(ISourceConfiguration::AVI_FILES, Files().media);
        EXPECT_EQ(m_panel->VideoList()->viewMode(), mode == 1 ? QListView::IconMode : QListView::ListMode);
        EXPECT_EQ(listButton->isChecked(), mode == 1);
        EXPECT_EQ(detailButton->isChecked(), mode == 0);
    }
    detailButton->click();
    EXPECT_FALSE(listButton->isChecked());
    EXPECT_EQ(m_panel->VideoList()->viewMode(), QListView::ListMode);
    EXPECT_EQ(settings.VideoSequenceItemViewMode.load(), 0);

    // Without the OEM switch the chooser offers no archive drives or folders.
    QOemSettings::Instance().ShowAllVideoSource = false;
    QNavigationPanel files;
    files.Setup();
    files.SelectSourceMode(ISourceConfiguration::AVI_FILES);
    files.SelectSourceMode(ISourceConfiguration::FOLDER);
    EXPECT_EQ(files.GetSourceMode(), ISourceConfiguration::AVI_FILES);
    EXPECT_EQ(files.ModeChooser()->GetList()->Count(), 2);
}

// The panel's own Apply and Cancel bar: Apply follows the selection, stores
// the page's path, applies and hides; Cancel hides and stores nothing, and
// the next show reloads the stored path with an empty list.
TEST_F(SourceBrowserTest, ApplyAndCancelGoThroughTheButtonBar)
{
    auto* apply = m_panel->findChild<QPushButton*>("applySettingButton");
    auto* cancel = m_panel->findChild<QPushButton*>("cancelSettingButton");
    ASSERT_TRUE(apply && cancel);
    EXPECT_FALSE(apply->isEnabled());
    int applied = 0;
    m_panel->SourcesApplied.connect([&applied](ISourceConfiguration&) { ++applied; });
    m_panel->SetArea(QSize(640, 360));

    const std::wstring empty = QString::fromStdString(Files().empty).toStdWString();
    const std::wstring media = QString::fromStdString(Files().media).toStdWString();
    SettingsProfile& live = QApplicationSettings::Instance().Live;
    live.SourceMode = ISourceConfiguration::AVI_FILES;
    live.VideoFolders[ISourceConfiguration::AVI_FILES] = {empty};
    auto page = std::dynamic_pointer_cast<model::SingleSourceTargetModel>(
        m_panel->Model(ISourceConfiguration::AVI_FILES));
    ASSERT_TRUE(page);
    // Shows the panel with the page's path replaced by the media folder,
    // refreshed.
    const auto showAndRefreshMedia = [&] {
        m_panel->ShowPanel();
        ASSERT_TRUE(m_panel->IsShown());
        ASSERT_EQ(m_panel->GetSourceMode(), ISourceConfiguration::AVI_FILES);
        EXPECT_EQ(page->GetPaths(), std::vector<std::wstring>{empty});
        EXPECT_TRUE(Texts().isEmpty());
        EXPECT_FALSE(apply->isEnabled());
        page->SetPath(QString::fromStdWString(media));
        m_panel->RefreshButton()->click();
        ASSERT_EQ(Texts().size(), 2);
        EXPECT_TRUE(apply->isEnabled());
    };

    showAndRefreshMedia();
    m_panel->VideoList()->clearSelection();
    EXPECT_FALSE(apply->isEnabled());
    cancel->click();
    EXPECT_FALSE(m_panel->IsShown());
    EXPECT_EQ(applied, 0);
    EXPECT_EQ(live.VideoFolders[ISourceConfiguration::AVI_FILES], std::vector<std::wstring>{empty});

    showAndRefreshMedia();
    m_panel->VideoList()->clearSelection();
    m_panel->VideoList()->item(1)->setSelected(true);
    ASSERT_TRUE(apply->isEnabled());
    apply->click();
    EXPECT_EQ(applied, 1);
    EXPECT_EQ(m_applied, Sources{ListedSources()[1]});
    EXPECT_EQ(m_appliedMode, ISourceConfiguration::AVI_FILES);
    EXPECT_EQ(live.VideoFolders[ISourceConfiguration::AVI_FILES], std::vector<std::wstring>{media});
    EXPECT_FALSE(m_panel->IsShown());
}

// The roll box lists the four modes; a scroll that ends on another mode
// shows its page with the path stored for it and empties the list, one that
// ends on the current mode keeps the listed channels.
TEST_F(SourceBrowserTest, RollBoxChoosesTheShownPage)
{
    QRollBox* box = m_panel->ModeChooser();
    const std::shared_ptr<IRollBoxList>& modes = box->GetList();
    const QStringList captions{"Disk", "Folder", "File", "Video files"};
    ASSERT_EQ(modes->Count(), captions.size());
    for (int i = 0; i < modes->Count(); ++i) {
        EXPECT_EQ(modes->Item(i).Text(), captions[i]);
        EXPECT_EQ(modes->Item(i).data.toInt(), i);
    }
    const auto settle = [box] {
        return WaitFor([box] { return box->MoveAnimation().state() == QAbstractAnimation::Stopped; });
    };
    const auto showing = [this](int mode) {
        return m_panel->TargetWidget(mode)->isVisibleTo(m_panel.get());
    };

    QApplicationSettings::Instance().Live.VideoFolders[ISourceConfiguration::SINGLE_FILE] = {L"/no/such/file.mkv"};
    Show(ISourceConfiguration::FOLDER, Files().archive);
    EXPECT_EQ(box->CurrentIndex(), 1);
    m_panel->RefreshButton()->click();
    ASSERT_EQ(Texts().size(), 3);

    // A click on the middle row stays on the folder.
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, box->ItemRect(1).center());
    ASSERT_TRUE(settle());
    EXPECT_EQ(m_panel->GetSourceMode(), ISourceConfiguration::FOLDER);
    EXPECT_EQ(Texts().size(), 3);

    // The wheel rolls down to the file page.
    QWheelEvent down(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(box, &down);
    ASSERT_TRUE(settle());
    EXPECT_EQ(box->CurrentIndex(), 2);
    EXPECT_EQ(m_panel->GetSourceMode(), ISourceConfiguration::SINGLE_FILE);
    EXPECT_EQ(m_panel->CurrentModel()->GetPaths(), std::vector<std::wstring>{L"/no/such/file.mkv"});
    EXPECT_TRUE(showing(ISourceConfiguration::SINGLE_FILE));
    EXPECT_FALSE(showing(ISourceConfiguration::FOLDER));
    EXPECT_TRUE(Texts().isEmpty());
    EXPECT_TRUE(m_panel->Channels().empty());
    EXPECT_TRUE(m_panel->GetVideoSources().empty());
    EXPECT_FALSE(m_panel->IsDataChanged());

    // A click on the row above goes back to the folder page and its path.
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, box->ItemRect(1).center());
    ASSERT_TRUE(settle());
    EXPECT_EQ(box->CurrentIndex(), 1);
    EXPECT_EQ(m_panel->GetSourceMode(), ISourceConfiguration::FOLDER);
    EXPECT_TRUE(showing(ISourceConfiguration::FOLDER));
    EXPECT_FALSE(showing(ISourceConfiguration::SINGLE_FILE));
    EXPECT_EQ(m_panel->CurrentModel()->GetPaths(),
              std::vector<std::wstring>{QString::fromStdString(Files().archive).toStdWString()});
    m_panel->RefreshButton()->click();
    EXPECT_EQ(Texts().size(), 3);
}

}  // namespace

// The Disk page lists the mounted archive volumes, or says that none was
// found; the note goes with the page.
TEST(SourceBrowserDrives, DiskPageSaysWhenNoArchiveVolumeIsFound)
{
    QOemSettings::Instance().ShowAllVideoSource = true;
    auto drives = std::make_shared<std::vector<std::string>>();
    QNavigationPanel panel(nullptr, [drives] { return *drives; });
    panel.Setup();
    const auto shown = [&panel](QWidget* widget) { return widget->isVisibleTo(&panel); };

    panel.SelectSourceMode(ISourceConfiguration::DRIVES);
    EXPECT_TRUE(shown(panel.NoDrivesLabel()));
    EXPECT_FALSE(shown(panel.DrivesView()));
    EXPECT_TRUE(panel.NoDrivesLabel()->text().contains("No archive volume was found"));

    *drives = {"/"};
    panel.SelectSourceMode(ISourceConfiguration::FOLDER);
    EXPECT_FALSE(shown(panel.NoDrivesLabel())) << "another page";
    EXPECT_FALSE(shown(panel.DrivesView()));
    panel.SelectSourceMode(ISourceConfiguration::DRIVES);
    ASSERT_EQ(panel.DrivesView()->model()->rowCount(), 1);
    EXPECT_TRUE(shown(panel.DrivesView()));
    EXPECT_FALSE(shown(panel.NoDrivesLabel()));
}
