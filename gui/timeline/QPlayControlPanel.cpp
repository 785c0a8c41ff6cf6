#include "gui/timeline/QPlayControlPanel.h"

#include <QGraphicsProxyWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QSlider>

#include <algorithm>

#include <boost/format.hpp>

#include "config/ResourcePaths.h"
#include "widgets/QAudioSlider.h"
#include "widgets/QCustomButton.h"

namespace {

constexpr int kPanelWidth = 120;
constexpr int kMargin = 5;

}  // namespace

QPlayControlPanel::QPlayControlPanel(QWidget* parent)
    : backwardButton(new QCustomButton(QStringLiteral("BWD_btn"), this)),
      playPauseButton(new QCustomButton(QStringLiteral("Play_btn"), this, QStringLiteral("Pause_btn"))),
      forwardButton(new QCustomButton(QStringLiteral("FWD_btn"), this)),
      badge(ResourcePath(ApplicationDirectory(), QStringLiteral("speed_background"))),
      badgeFont(QStringLiteral("Verdana"), 10, QFont::Normal),
      volumeSlider(new QAudioSlider(this))
{
    if (parent)
        setParent(parent);
    setMinimumWidth(kPanelWidth);
    setMaximumWidth(kPanelWidth);

    backwardButton->setAutoRepeat(true);
    forwardButton->setAutoRepeat(true);
    volumeSlider->Slider()->setRange(0, 100);

    connect(playPauseButton, &QAbstractButton::toggled, this, &QPlayControlPanel::onPlayPause);
    connect(backwardButton, &QAbstractButton::clicked, this, &QPlayControlPanel::onBackward);
    connect(forwardButton, &QAbstractButton::clicked, this, &QPlayControlPanel::onForward);
    volumeSlider->VolumeChanged.connect([this](int volume) { VolumeChanged(volume); });
}

QPlayControlPanel::~QPlayControlPanel()
{
    // The proxy would otherwise delete this widget a second time.
    if (QGraphicsProxyWidget* proxy = graphicsProxyWidget())
        proxy->setWidget(nullptr);
}

void QPlayControlPanel::SetPlaying(bool playing)
{
    playPauseButton->setChecked(playing);
}

void QPlayControlPanel::ResetSpeed()
{
    speed = 1.0;
    SpeedChanged(speed);
    update();
}

void QPlayControlPanel::SetVolume(int32_t volume)
{
    volumeSlider->SetVolume(volume);
}

QString QPlayControlPanel::BadgeText(double speed)
{
    // boost prints these powers of two without a fraction.
    const std::string text = speed < 1.0 ? (boost::format("x1/%1%") % (1.0 / speed)).str()
                                         : (boost::format("x %1%") % speed).str();
    return QString::fromStdString(text);
}

QRect QPlayControlPanel::BadgeRect() const
{
    const QRect play = playPauseButton->geometry();
    const int y = play.bottom() + (height() - play.bottom() - badge.height()) / 2;
    return QRect(QPoint(play.x(), y), badge.size());
}

void QPlayControlPanel::onPlayPause(bool checked)
{
    if (checked)
        PlayClicked();
    else
        PauseClicked();
    update();
}

void QPlayControlPanel::ChangeSpeed(double factor)
{
    speed = std::clamp(speed * factor, kMinSpeed, kMaxSpeed);
    SpeedChanged(speed);
    update();
}

void QPlayControlPanel::onBackward()
{
    if (!playPauseButton->isChecked())
        StepBackwardClicked();
    else
        ChangeSpeed(0.5);
}

void QPlayControlPanel::onForward()
{
    if (!playPauseButton->isChecked())
        StepForwardClicked();
    else
        ChangeSpeed(2.0);
}

void QPlayControlPanel::resizeEvent(QResizeEvent*)
{
    const QSize b = backwardButton->size();
    const QSize p = playPauseButton->size();
    const int y = (height() - b.height()) / 2;
    backwardButton->move(kMargin, y);
    playPauseButton->move(kMargin + b.width(), y);
    forwardButton->move(kMargin + b.width() + p.width(), y);
    volumeSlider->move((width() - volumeSlider->width()) / 2, (forwardButton->y() - volumeSlider->height()) / 2);
}

void QPlayControlPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintBackground(painter);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (!playPauseButton->isChecked())
        return;
    const QRect rect = BadgeRect();
    painter.drawImage(rect.topLeft(), badge);
    painter.setFont(badgeFont);
    painter.setPen(QColor(255, 255, 255, 255));
    painter.drawText(rect, Qt::AlignHCenter | Qt::AlignVCenter, BadgeText(speed));
}

void QPlayControlPanel::mousePressEvent(QMouseEvent* event)
{
    if (BadgeRect().contains(event->pos()) && speed != 1.0)
        ResetSpeed();
}
