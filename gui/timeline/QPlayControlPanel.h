#pragma once
// The transport controls beside the play-mode time line: step back or slow
// down, play/pause, step forward or speed up, the volume, and a badge with
// the playback speed while playing.

#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>

#include "widgets/QBasePanel.h"
#include "playback/PlaybackGui.h"

class QAudioSlider;
class QCustomButton;

class QPlayControlPanel : public QBasePanel, public playback::IPlayControlPanel {
    Q_OBJECT

public:
    static constexpr double kMinSpeed = 0.0625;
    static constexpr double kMaxSpeed = 16.0;

    explicit QPlayControlPanel(QWidget* parent = nullptr);
    ~QPlayControlPanel() override;

    // A change of state emits PlayClicked or PauseClicked as a click does.
    void SetPlaying(bool playing) override;
    void ResetSpeed() override;
    // Slides the volume slider to the value.
    void SetVolume(int32_t volume) override;

    double Speed() const { return speed; }
    // "x1/2" ... "x1/16" below 1, "x 1" ... "x 16" from 1 up.
    static QString BadgeText(double speed);
    // Centred below the play/pause button, the size of the badge image.
    QRect BadgeRect() const;

    QCustomButton& BackwardButton() { return *backwardButton; }
    QCustomButton& PlayPauseButton() { return *playPauseButton; }
    QCustomButton& ForwardButton() { return *forwardButton; }
    QAudioSlider& VolumeSlider() { return *volumeSlider; }

private slots:
    void onPlayPause(bool checked);
    void onBackward();
    void onForward();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    // While playing the step buttons change the speed by this factor.
    void ChangeSpeed(double factor);

    QCustomButton* backwardButton;
    QCustomButton* playPauseButton;
    QCustomButton* forwardButton;
    QImage badge;
    QFont badgeFont;
    QAudioSlider* volumeSlider;
    // Always a power of two between kMinSpeed and kMaxSpeed.
    double speed = 1.0;
};
