#include "gui/panels/QSettingsPanel.h"

#include <QApplication>
#include <QGraphicsProxyWidget>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpacerItem>
#include <QVBoxLayout>

#include "config/FolderBrowser.h"
#include "widgets/QCustomComboBox.h"
#include "render/BasicRenderer.h"
#include "render/Dewarper.h"
#include "render/Titles.h"

namespace {

// The option boxes' texts, in box order (translated in the panel's context).
const char* const kOptionTexts[QSettingsPanel::OptionCount] = {
    QT_TRANSLATE_NOOP("QSettingsPanel", "Is debug"),
    QT_TRANSLATE_NOOP("QSettingsPanel", "Deinterlacing"),
    QT_TRANSLATE_NOOP("QSettingsPanel", "Skip frames"),
    QT_TRANSLATE_NOOP("QSettingsPanel", "Stay on top"),
    QT_TRANSLATE_NOOP("QSettingsPanel", "Single app instance"),
    QT_TRANSLATE_NOOP("QSettingsPanel", "Show titles"),
    QT_TRANSLATE_NOOP("QSettingsPanel", "Remember video source"),
    QT_TRANSLATE_NOOP("QSettingsPanel", "Antialiasing"),
    QT_TRANSLATE_NOOP("QSettingsPanel", "Watermark"),
    QT_TRANSLATE_NOOP("QSettingsPanel", "Show tracks"),
};
constexpr int kRememberSourceBox = 6;

}  // namespace

QSettingsPanel::QSettingsPanel(render::BasicRenderer* renderer, QApplicationSettings& settings)
    : QAbstractConfigurationPanel(QStringLiteral("ExportPanel")), renderer(renderer), settings(settings)
{
    exportFolder.setObjectName(QStringLiteral("lblChooseSource"));
    chooseFolder = [](const QString& title, const QString& initial) {
        return BrowseForFolder(title, initial, QApplication::activeWindow(), true);
    };
}

QSettingsPanel::~QSettingsPanel()
{
    // The scene's proxy must not delete this panel a second time.
    if (QGraphicsProxyWidget* proxy = graphicsProxyWidget())
        proxy->setWidget(nullptr);
}

QCustomComboBox* QSettingsPanel::Combo(Box box) const
{
    return box == ShowTitleBox ? nullptr : static_cast<QCustomComboBox*>(boxes[box]);
}

QCheckBox* QSettingsPanel::ShowTitleCheck() const
{
    return static_cast<QCheckBox*>(boxes[ShowTitleBox]);
}

std::array<SettingValue<bool>*, QSettingsPanel::OptionCount> QSettingsPanel::OptionSettings()
{
    return {&settings.Debug,           &settings.Deinterlacing,          &settings.SkipFrames,
            &settings.Live.TopMost,    &settings.Live.SingleAppInstance, &settings.Live.ShowTitles,
            &settings.RememberVideoSource, &settings.Antialiasing,       &settings.Watermark,
            &settings.Live.ShowTracks};
}

void QSettingsPanel::BuildContent(QControlsGuiLayer*)
{
    auto* layout = new QVBoxLayout;
    layout->setContentsMargins(5, 5, 5, 5);
    layout->setSpacing(5);
    for (int i = 0; i < OptionCount; ++i) {
        QCheckBox& box = Option(i);
        box.setText(tr(kOptionTexts[i]));
        layout->addWidget(&box);
        connect(&box, &QCheckBox::clicked, this, &QSettingsPanel::onSettingChanged);
    }

    auto* folderGrid = new QGridLayout;
    auto* describe = new QLabel(tr("Export Folder:"));
    describe->setObjectName(QStringLiteral("lblChooseDescribe"));
    folderGrid->addWidget(describe, 0, 0);
    folderGrid->addWidget(&exportFolder, 1, 0);
    auto* choose = new QPushButton(QStringLiteral("..."));
    choose->setObjectName(QStringLiteral("btnChooseButton"));
    folderGrid->addWidget(choose, 0, 1, 2, 1, Qt::AlignBottom);
    layout->addLayout(folderGrid);

    layout->addLayout(BuildCameraGrid());
    layout->addItem(new QSpacerItem(0, 0, QSizePolicy::Expanding, QSizePolicy::Expanding));
    contentLayout->addLayout(layout);

    connect(choose, &QPushButton::clicked, this, &QSettingsPanel::onChooseExportDir);
    connect(&exportFolder, &QLineEdit::textChanged, this, &QSettingsPanel::onSettingChanged);
}

QCustomComboBox* QSettingsPanel::AddComboRow(QGridLayout* grid, const QString& label, int row, int column)
{
    auto* text = new QLabel(label);
    text->setObjectName(QStringLiteral("lblChooseDescribe"));
    grid->addWidget(text, row, column);
    auto* box = new QCustomComboBox(nullptr, false, true);
    box->iconSkin.LoadFromName(QStringLiteral("tilesSetupIco"));
    grid->addWidget(box, row, column + 1);
    grid->setColumnMinimumWidth(column + 1, box->width());
    return box;
}

QLayout* QSettingsPanel::BuildCameraGrid()
{
    auto* grid = new QGridLayout;
    QCustomComboBox* camera = AddComboRow(grid, tr("Camera:"), 0, 0);
    QCustomComboBox* frameBuffer = AddComboRow(grid, tr("Frame buffer for decoding"), 1, 0);
    frameBuffer->addItems({QStringLiteral("5"), QStringLiteral("3")});
    QCustomComboBox* title = AddComboRow(grid, tr("Title:"), 0, 2);
    QCustomComboBox* lens = AddComboRow(grid, tr("Lens:"), 1, 2);
    lens->addItems({tr("None"), tr("Standard fisheye lens"), tr("Auto calibrated")});
    // The renderer's first lens code is not offered: lens value 3 is its
    // second code.
    const std::vector<std::string>& codes = render::SupportedLensList();
    for (std::size_t i = 1; i < codes.size(); ++i)
        lens->addItem(QString::fromStdString(codes[i]));
    QCustomComboBox* position = AddComboRow(grid, tr("Position:"), 2, 2);
    position->addItems({tr("Ceiling"), tr("Wall"), tr("Floor")});
    QCustomComboBox* display = AddComboRow(grid, tr("Display:"), 3, 2);
    display->addItems({tr("PTZ"), tr("Perimeter")});

    boxes = {camera, title, lens, position, display, frameBuffer, nullptr};
    connect(camera, qOverload<int>(&QComboBox::currentIndexChanged), this, &QSettingsPanel::currentCameraChanged);
    connect(title, qOverload<int>(&QComboBox::currentIndexChanged), this, &QSettingsPanel::currentTitleChanged);
    connect(lens, qOverload<int>(&QComboBox::currentIndexChanged), this, &QSettingsPanel::currentLensChanged);
    connect(position, qOverload<int>(&QComboBox::currentIndexChanged), this, &QSettingsPanel::currentPosChanged);
    connect(display, qOverload<int>(&QComboBox::currentIndexChanged), this, &QSettingsPanel::currentDisplayChanged);

    auto* showTitle = new QCheckBox(tr("Show title"));
    boxes[ShowTitleBox] = showTitle;
    grid->addWidget(showTitle, 0, 4);
    connect(showTitle, &QCheckBox::stateChanged, this, &QSettingsPanel::showTitleChanged);
    grid->addItem(new QSpacerItem(0, 0, QSizePolicy::Expanding, QSizePolicy::Minimum), 0, 5);
    return grid;
}

void QSettingsPanel::LoadData()
{
    const std::array<SettingValue<bool>*, OptionCount> values = OptionSettings();
    for (int i = 0; i < OptionCount; ++i)
        Option(i).setChecked(*values[static_cast<std::size_t>(i)]);
    // Sources from the command line are never remembered: the box shows the
    // remembered choice only while the live values will be saved.
    if (!settings.SaveLiveValues)
        Option(kRememberSourceBox).setChecked(true);
    // The default folder joins the documents folder and the data subfolder
    // with a doubled '/': the user is shown the path with single ones.
    QString folder = QString::fromStdWString(settings.Live.ExportFolder);
    folder.replace(QRegularExpression(QStringLiteral("/{2,}")), QStringLiteral("/"));
    exportFolder.setText(folder);

    titleSets.clear();
    if (renderer) {
        const int pins = renderer->GetCount();
        for (int i = 0; i < pins; ++i)
            titleSets.push_back(renderer->GetPin(i)->GetTitles());
    }

    auto* camera = Combo(CameraBox);
    camera->clear();
    // Pins without a camera name in the live channel list are left out.
    const std::vector<std::wstring>& channels = settings.Live.Channels;
    const std::size_t named = std::min(titleSets.size(), channels.size());
    cameraSettings.assign(named, CameraSettings{});
    for (std::size_t i = 0; i < named; ++i) {
        cameraSettings[i] = settings.Live.CamSettings[channels[i]];
        const std::wstring name = titleSets[i]->GetTitle(0, true, false)->GetText();
        // The first item becomes current and fills the camera's boxes.
        camera->addItem(QString::fromStdWString(name));
    }

    auto* frameBuffer = Combo(FrameBufferBox);
    const int item = frameBuffer->findText(QString::number(settings.Live.FrameBufferForDecode.load()));
    if (item >= 0)
        frameBuffer->setCurrentIndex(item);
}

void QSettingsPanel::SaveData()
{
    const std::array<SettingValue<bool>*, OptionCount> values = OptionSettings();
    for (int i = 0; i < OptionCount; ++i)
        *values[static_cast<std::size_t>(i)] = Option(i).isChecked();
    settings.Live.ExportFolder = exportFolder.text().toStdWString();
    bool ok = false;
    const int frameBuffer = Combo(FrameBufferBox)->currentText().toInt(&ok, 10);
    if (ok)
        settings.Live.FrameBufferForDecode = frameBuffer;

    const std::vector<std::wstring>& channels = settings.Live.Channels;
    for (std::size_t i = 0; i < titleSets.size(); ++i) {
        if (i < cameraSettings.size() && i < channels.size())
            settings.Live.CamSettings[channels[i]] = cameraSettings[i];
        titleSets[i]->VisibilityChanged(true);
    }
}

void QSettingsPanel::onSettingChanged()
{
    SetDataChanged(!exportFolder.text().isEmpty());
}

void QSettingsPanel::onChooseExportDir()
{
    if (!chooseFolder)
        return;
    const QString folder = chooseFolder(tr("Current Selection"), exportFolder.text());
    if (!folder.isEmpty())
        exportFolder.setText(folder);
}

boost::shared_ptr<render::Title> QSettingsPanel::TitleAt(int c, int i) const
{
    if (c < 0 || i < 0 || static_cast<std::size_t>(c) >= titleSets.size())
        return {};
    const std::vector<render::TitlePtr> titles = titleSets[static_cast<std::size_t>(c)]->GetTitles();
    const std::size_t index = static_cast<std::size_t>(i) + 3;
    return index < titles.size() ? titles[index] : render::TitlePtr();
}

boost::shared_ptr<render::Title> QSettingsPanel::ListedTitle(int t) const
{
    if (t < 0 || static_cast<std::size_t>(t) >= listedTitles.size())
        return {};
    return TitleAt(Combo(CameraBox)->currentIndex(), listedTitles[static_cast<std::size_t>(t)]);
}

void QSettingsPanel::currentCameraChanged(int c)
{
    auto* titles = Combo(TitleBox);
    listedTitles.clear();
    titles->clear();
    if (c >= 0 && static_cast<std::size_t>(c) < titleSets.size()) {
        const std::size_t count = titleSets[static_cast<std::size_t>(c)]->GetTitles().size();
        for (std::size_t index = 3; index < count; ++index) {
            const render::TitlePtr title = TitleAt(c, static_cast<int>(index - 3));
            if (!title || !title->IsAnnounced())
                continue;
            // Recorded before the item is added: adding the first makes it
            // current, which reads the list.
            listedTitles.push_back(static_cast<int>(index - 3));
            titles->addItem(QString::fromStdString(title->GetName()));
        }
    }
    if (c < 0 || static_cast<std::size_t>(c) >= cameraSettings.size())
        return;
    // Copied first: selecting a box writes its value back into the copy.
    const CameraSettings copy = cameraSettings[static_cast<std::size_t>(c)];
    const std::pair<Box, int> selections[] = {{LensBox, copy.Lens}, {PositionBox, copy.Pos},
                                              {DisplayBox, copy.Display}};
    for (const auto& [box, value] : selections) {
        // A stored value the box does not offer stays as it is.
        if (value >= 0 && value < Combo(box)->count())
            Combo(box)->setCurrentIndex(value);
    }
}

void QSettingsPanel::currentTitleChanged(int index)
{
    if (const render::TitlePtr title = ListedTitle(index))
        ShowTitleCheck()->setChecked(title->IsVisible());
}

namespace {

// The working copy of the camera box's current channel; null when none.
CameraSettings* CurrentCopy(std::vector<CameraSettings>& copies, int camera)
{
    if (camera < 0 || static_cast<std::size_t>(camera) >= copies.size())
        return nullptr;
    return &copies[static_cast<std::size_t>(camera)];
}

}  // namespace

void QSettingsPanel::currentLensChanged(int value)
{
    if (CameraSettings* copy = CurrentCopy(cameraSettings, Combo(CameraBox)->currentIndex()); copy && value >= 0)
        copy->Lens = value;
}

void QSettingsPanel::currentPosChanged(int value)
{
    if (CameraSettings* copy = CurrentCopy(cameraSettings, Combo(CameraBox)->currentIndex()); copy && value >= 0)
        copy->Pos = value;
}

void QSettingsPanel::currentDisplayChanged(int value)
{
    if (CameraSettings* copy = CurrentCopy(cameraSettings, Combo(CameraBox)->currentIndex()); copy && value >= 0)
        copy->Display = value;
}

void QSettingsPanel::showTitleChanged(int state)
{
    const render::TitlePtr title = ListedTitle(Combo(TitleBox)->currentIndex());
    if (!title)
        return;
    title->SetVisible(state == Qt::Checked);
    titleSets[static_cast<std::size_t>(Combo(CameraBox)->currentIndex())]->MarkChanged(true);
}
