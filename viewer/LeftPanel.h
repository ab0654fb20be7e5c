// A box in a PanelWindow's content view that holds panels on the left side, shown and hidden by the
// window's left-panels toggle. PanelWindow recognises it by its class when it lays out its panels;
// it adds nothing else.
#pragma once

#include <QFrame>

class LeftPanel : public QFrame {
  public:
    explicit LeftPanel(QWidget* parent = nullptr) : QFrame(parent) {
        setFrameShape(QFrame::StyledPanel);
    }
};
