#include "gui/panels/QAbstractConfigurationPanel.h"

#include <QEasingCurve>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "widgets/SkinResources.h"

QAbstractConfigurationPanel::QAbstractConfigurationPanel(const QString& objectName)
    : contentLayout(new QVBoxLayout)
{
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    setContentsMargins(0, 0, 0, 0);
    auto* inner = new QWidget(this);
    inner->setObjectName(objectName);
    contentLayout->setContentsMargins(1, 0, 1, 1);
    contentLayout->setSpacing(1);
    inner->setLayout(contentLayout);
    outer->addWidget(inner);
    raise();
    // Hidden above the scene until the controls layer gives the area.
    setGeometry(0, -400, 0, 400);
}

void QAbstractConfigurationPanel::Setup(QControlsGuiLayer* layer)
{
    InitAnimation();
    QWidget* bar = BuildButtonBar();
    SetDataChanged(false);
    BuildContent(layer);
    contentLayout->addWidget(bar);
    ApplyPanelStyle();
    QMetaObject::connectSlotsByName(this);
}

void QAbstractConfigurationPanel::InitAnimation()
{
    animation.setEasingCurve(QEasingCurve::InOutCubic);
    animation.setDuration(700);
    animation.setTargetObject(this);
    animation.setPropertyName("geometry");
    animation.setDirection(QAbstractAnimation::Backward);
}

void QAbstractConfigurationPanel::ApplyPanelStyle()
{
    ApplyStyleSheet(ApplicationDirectory(), this, QStringLiteral("SettingPanel.css"));
}

QWidget* QAbstractConfigurationPanel::BuildButtonBar()
{
    auto* bar = new QWidget;
    bar->setContentsMargins(0, 0, 0, 0);
    bar->setObjectName(QStringLiteral("navigationBottomPanel"));
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addItem(new QSpacerItem(0, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    auto* apply = new QPushButton(tr("Apply"), bar);
    apply->setObjectName(QStringLiteral("applySettingButton"));
    layout->addWidget(apply);
    auto* cancel = new QPushButton(tr("Cancel"), bar);
    cancel->setObjectName(QStringLiteral("cancelSettingButton"));
    layout->addWidget(cancel);
    layout->addItem(new QSpacerItem(0, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    connect(this, &QAbstractConfigurationPanel::OnDataChanged, apply, &QWidget::setEnabled);
    return bar;
}

void QAbstractConfigurationPanel::SetArea(QSize size)
{
    const QRect shown(0, 0, size.width(), size.height());
    const QRect hidden(0, -size.height(), size.width(), size.height());
    setGeometry(IsShown() ? shown : hidden);
    animation.setStartValue(hidden);
    animation.setEndValue(shown);
}

void QAbstractConfigurationPanel::AnimateTo(QAbstractAnimation::Direction direction)
{
    if (animation.direction() == direction)
        return;
    if (direction == QAbstractAnimation::Forward) {
        LoadData();
        emit OnShowPanel();
    } else {
        emit OnHidePanel();
    }
    // A running slide turns round where it is; start() leaves it running.
    animation.setDirection(direction);
    animation.start();
}

void QAbstractConfigurationPanel::ShowPanel()
{
    AnimateTo(QAbstractAnimation::Forward);
}

void QAbstractConfigurationPanel::HidePanel()
{
    AnimateTo(QAbstractAnimation::Backward);
}

void QAbstractConfigurationPanel::ToggleState()
{
    AnimateTo(IsShown() ? QAbstractAnimation::Backward : QAbstractAnimation::Forward);
}

void QAbstractConfigurationPanel::SetShow(bool show)
{
    if (show)
        ShowPanel();
    else
        HidePanel();
}

void QAbstractConfigurationPanel::SetDataChanged(bool changed)
{
    emit OnDataChanged(changed);
}

void QAbstractConfigurationPanel::on_applySettingButton_clicked()
{
    if (!CanApply())
        return;
    SaveData();
    ToggleState();
}

void QAbstractConfigurationPanel::on_cancelSettingButton_clicked()
{
    if (CanCancel())
        ToggleState();
}

void QAbstractConfigurationPanel::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

void QAbstractConfigurationPanel::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}

void QAbstractConfigurationPanel::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
}

void QAbstractConfigurationPanel::wheelEvent(QWheelEvent* event)
{
    event->accept();
}
