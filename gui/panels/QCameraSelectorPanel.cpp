#include "gui/panels/QCameraSelectorPanel.h"

#include <QGraphicsProxyWidget>

#include "widgets/QCustomComboBox.h"

QCameraSelectorPanel::QCameraSelectorPanel() : comboBox(new QCustomComboBox(this, true, false))
{
    setMinimumWidth(200);
    setMaximumWidth(200);
    // The text of the new current item; empty when the box became empty.
    connect(comboBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int index) { currentIndexChanged(comboBox->itemText(index)); });
}

QCameraSelectorPanel::~QCameraSelectorPanel()
{
    // The scene's proxy must not delete this panel a second time.
    if (QGraphicsProxyWidget* proxy = graphicsProxyWidget())
        proxy->setWidget(nullptr);
}

void QCameraSelectorPanel::resizeEvent(QResizeEvent* event)
{
    QBasePanel::resizeEvent(event);
    comboBox->move((width() - comboBox->width()) / 2, (height() - comboBox->height()) / 2);
}

void QCameraSelectorPanel::SetCameras(const std::vector<std::wstring>& names)
{
    comboBox->clear();
    for (const std::wstring& name : names)
        comboBox->addItem(QString::fromStdWString(name));
}

void QCameraSelectorPanel::SelectCamera(const std::wstring& name)
{
    const int index = comboBox->findText(QString::fromStdWString(name), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        comboBox->setCurrentIndex(index);
}

void QCameraSelectorPanel::currentIndexChanged(const QString& text)
{
    CameraChanged(text.toStdWString());
}
