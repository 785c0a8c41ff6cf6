#pragma once
// The volume control: a no-sound button, a slider and a full-sound button.

#include <QGridLayout>
#include <QPropertyAnimation>
#include <QWidget>

#include <boost/signals2/signal.hpp>

class QSlider;
class QCustomButton;

class QAudioSlider : public QWidget {
    Q_OBJECT

public:
    // The volume 0..100 on every change of the slider's value, including
    // each step of a SetVolume slide.
    boost::signals2::signal<void(int volume)> VolumeChanged;

    explicit QAudioSlider(QWidget* parent = nullptr);

    // Slides to volume (0..100) over 100 ms.
    void SetVolume(int volume);

    QSlider* Slider() const { return slider; }
    QCustomButton* NoSoundButton() const { return noSoundButton; }
    QCustomButton* MaxSoundButton() const { return maxSoundButton; }
    QPropertyAnimation& Animation() { return animation; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Not installed on the widget: resizeEvent places it.
    QGridLayout layout;
    QPropertyAnimation animation;
    QSlider* slider;
    QCustomButton* noSoundButton;
    QCustomButton* maxSoundButton;
};
