// A small floating tool window of the image window: the drift graph and the focus-mask panel.
//
// It stays above its parent window and, while `hidesOnDeactivate` is set, hides as soon as the
// application stops being active and comes back when it is active again, so the panels do not
// float over other applications' windows. While it is hidden that way it does not count as
// visible. The first time it is brought up its centre stands at `anchor` of its parent window's
// frame (fractions of its width and height from the top-left corner); after that it stays where
// the user put it.
#pragma once

#include <QPointF>
#include <QWidget>

class ToolPanel : public QWidget {
    Q_OBJECT

  public:
    // A tool window over `parent`'s window, hidden until it is brought to the front.
    explicit ToolPanel(QWidget* parent = nullptr, QPointF anchor = QPointF(0.5, 0.8));

    bool hidesOnDeactivate() const { return hidesOnDeactivate_; }
    void setHidesOnDeactivate(bool hides);

    // Shows the panel, raises it above the other windows and gives it the keyboard focus.
    void makeKeyAndOrderFront();

    // True while the panel is hidden because the application is inactive.
    bool isHiddenForDeactivation() const { return hiddenForDeactivation_; }

  public slots:
    // Hides the panel when the application turns inactive (and it should hide), shows it again
    // when the application is active once more. Connected to the application's signal.
    void applicationStateChanged(Qt::ApplicationState state);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    bool hidesOnDeactivate_ = false;      // hide while the application is inactive
    bool hiddenForDeactivation_ = false;  // hidden by the last deactivation, to show again
    QPointF anchor_;                      // first place of the centre, fractions of the parent
    bool placed_ = false;                 // given its first place over the parent window
};
