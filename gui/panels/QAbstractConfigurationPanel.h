#pragma once
// A panel that slides down over the channel grid and back up: its content
// (built by the subclass) above an Apply and Cancel bar. Every show reloads
// the content from its data first, so Cancel only hides; Apply saves and
// hides. Input on the panel never falls through to the scene beneath it.

#include <QPropertyAnimation>
#include <QRect>
#include <QWidget>

class QControlsGuiLayer;
class QVBoxLayout;

class QAbstractConfigurationPanel : public QWidget {
    Q_OBJECT

public:
    // objectName names the inner widget, on which the style sheets select.
    explicit QAbstractConfigurationPanel(const QString& objectName);

    // Called once by the controls layer: animation, content, button bar,
    // style, and the buttons' connections by object name. A panel whose
    // content needs no layer may be set up without one.
    void Setup(QControlsGuiLayer* layer = nullptr);
    // The channel grid's size: shown over it at (0, 0), hidden just above.
    void SetArea(QSize size);

    // Forward while shown or showing, backward while hidden or hiding.
    bool IsShown() const { return animation.direction() == QAbstractAnimation::Forward; }
    QPropertyAnimation& Animation() { return animation; }

signals:
    void OnShowPanel();
    void OnHidePanel();
    void OnDataChanged(bool changed);

public slots:
    void ToggleState();
    void ShowPanel();
    void HidePanel();
    void SetShow(bool show);

protected slots:
    void on_applySettingButton_clicked();
    void on_cancelSettingButton_clicked();

protected:
    virtual void InitAnimation();
    virtual void ApplyPanelStyle();
    virtual void BuildContent(QControlsGuiLayer* layer) = 0;
    virtual bool CanApply() { return true; }
    virtual bool CanCancel() { return true; }
    virtual void LoadData() {}
    virtual void SaveData() {}

public:
    // Enables Apply.
    Q_INVOKABLE virtual void SetDataChanged(bool changed);

protected:
    void AnimateTo(QAbstractAnimation::Direction direction);

    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

    QVBoxLayout* contentLayout;
    QPropertyAnimation animation;

private:
    QWidget* BuildButtonBar();
};
