// A small floating tool window of the image window: the drift graph and the focus-mask panel.
//
// It stays above its parent window and, while `hidesOnDeactivate` is set, hides as soon as the
// application stops being active and comes back when it is active again, so the panels do not
// float over other applications' windows. While it is hidden that way it does not count as
// visible.
#pragma once

#include <QWidget>

class ToolPanel : public QWidget {
    Q_OBJECT

  public:
    // A tool window over `parent`'s window, hidden until it is brought to the front.
    explicit ToolPanel(QWidget* parent = nullptr);

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
};
