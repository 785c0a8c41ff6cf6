#pragma once
// The combo box of the camera selector and the settings panels: an optional
// skin with a small icon at the left, and a pop-up that can open above the
// box (the camera selector sits at the bottom of the window).

#include <QComboBox>

#include "widgets/SkinResources.h"

class QCustomComboBox : public QComboBox {
public:
    // skinned: loads the "Combobox" images into skin.
    QCustomComboBox(QWidget* parent, bool popupAbove, bool skinned);

    // Owners may load these directly; an empty grid falls back to the
    // style sheet's painting (skin) or leaves the icon out (iconSkin).
    SkinStateImages skin;
    SkinStateImages iconSkin;

    bool PopupShown() const { return popupShown; }

    void showPopup() override;
    void hidePopup() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The grid of a set for the box's current state.
    const SkinImageGrid& StateGrid(const SkinStateImages& images) const;

    bool popupAbove;
    bool popupShown = false;
};
