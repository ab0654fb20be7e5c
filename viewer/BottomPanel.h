// A box in a PanelWindow's content view that holds panels along the bottom, shown and hidden by the
// window's bottom-panels toggle. PanelWindow recognises it by its class when it lays out its
// panels; it adds nothing else.
#pragma once

#include <QFrame>

class BottomPanel : public QFrame {
  public:
    explicit BottomPanel(QWidget* parent = nullptr) : QFrame(parent) {
        setFrameShape(QFrame::StyledPanel);
    }
};
