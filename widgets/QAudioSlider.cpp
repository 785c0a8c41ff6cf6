#include "widgets/QAudioSlider.h"

#include <QFile>
#include <QImage>
#include <QSlider>
#include <QSpacerItem>

#include "config/ResourcePaths.h"
#include "widgets/QCustomButton.h"

QAudioSlider::QAudioSlider(QWidget* parent) : QWidget(parent)
{
    slider = new QSlider(Qt::Horizontal, this);
    const QString resources = ResourcesDirectory(ApplicationDirectory());
    QFile style(resources + "QSlider/QAudioSlider.css");
    if (style.open(QIODevice::ReadOnly))
        slider->setStyleSheet(QString::fromUtf8(style.readAll()));
    slider->setRange(0, 100);
    slider->setSingleStep(1);
    slider->setTracking(true);
    slider->setFixedWidth(QImage(resources + "QSlider/soundVolumeBar.png").width());

    animation.setTargetObject(slider);
    animation.setPropertyName("sliderPosition");
    animation.setDuration(100);

    noSoundButton = new QCustomButton("QSlider/noSound", this);
    maxSoundButton = new QCustomButton("QSlider/maxSound", this);

    layout.addWidget(noSoundButton, 0, 0);
    layout.addItem(new QSpacerItem(1, 1, QSizePolicy::Expanding, QSizePolicy::Minimum), 0, 1);
    layout.addWidget(slider, 0, 2);
    layout.addItem(new QSpacerItem(1, 1, QSizePolicy::Expanding, QSizePolicy::Minimum), 0, 3);
    layout.addWidget(maxSoundButton, 0, 4);

    setFixedWidth(noSoundButton->width() + slider->width() + maxSoundButton->width() + 4);
    setFixedHeight(noSoundButton->height());

    connect(noSoundButton, &QPushButton::pressed, this, [this] { SetVolume(0); });
    connect(maxSoundButton, &QPushButton::pressed, this, [this] { SetVolume(100); });
    connect(slider, &QSlider::valueChanged, this, [this](int value) { VolumeChanged(value); });
}

void QAudioSlider::SetVolume(int volume)
{
    animation.stop();
    animation.setStartValue(slider->sliderPosition());
    animation.setEndValue(volume);
    animation.start();
}

void QAudioSlider::resizeEvent(QResizeEvent*)
{
    layout.setGeometry(rect());
}
