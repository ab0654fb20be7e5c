// A box in a PanelWindow's content view that holds the centre area: the picture or the table.
// PanelWindow recognises it by its class when it lays out its panels; it adds nothing else.
#pragma once

#include <QFrame>

class CenterPanel : public QFrame {
  public:
    explicit CenterPanel(QWidget* parent = nullptr) : QFrame(parent) {
        setFrameShape(QFrame::StyledPanel);
    }
};
