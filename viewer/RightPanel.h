// A box in a PanelWindow's content view that holds panels on the right side, shown and hidden by
// the window's right-panels toggle. PanelWindow recognises it by its class when it lays out its
// panels; it adds nothing else.
#pragma once

#include <QFrame>

class RightPanel : public QFrame {
  public:
    explicit RightPanel(QWidget* parent = nullptr) : QFrame(parent) {
        setFrameShape(QFrame::StyledPanel);
    }
};
