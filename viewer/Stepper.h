// A pair of up and down arrows that step a number between a minimum and a maximum.
//
// A press of an arrow (or the Up and Down keys while it has focus) moves the value by the
// increment, stopping at the limits, and announces `activated`; holding an arrow repeats.
// Setting the value from code announces only `valueChanged`, so a controller can show a value
// without hearing its own change as a user action.
#pragma once

#include <QWidget>

#include <cstdint>

class QToolButton;

class Stepper : public QWidget {
    Q_OBJECT

  public:
    explicit Stepper(QWidget* parent = nullptr);

    double minimum() const { return minimum_; }
    double maximum() const { return maximum_; }
    double increment() const { return increment_; }
    double value() const { return value_; }
    // The value truncated toward zero.
    int64_t integerValue() const;

    // Sets the lower limit; the maximum and the value rise to it when below. Not-a-number is
    // ignored.
    void setMinimum(double minimum);
    // Sets the upper limit; the minimum and the value drop to it when above. Not-a-number is
    // ignored.
    void setMaximum(double maximum);
    // Sets the step; only a finite amount above zero is taken.
    void setIncrement(double increment);
    // Sets the value, held within the limits; not-a-number is ignored.
    void setValue(double value);

    QSize sizeHint() const override;

  public slots:
    // One press of the upper arrow: value + increment, at most the maximum; then `activated`.
    void stepUp();
    // One press of the lower arrow: value - increment, at least the minimum; then `activated`.
    void stepDown();

  signals:
    // The value changed, by the user or by code.
    void valueChanged(double value);
    // The user stepped (also at a limit, where the value stays).
    void activated();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void step(double amount);

    QToolButton* up_;       // upper arrow
    QToolButton* down_;     // lower arrow
    double minimum_ = 0;    // lower limit
    double maximum_ = 100;  // upper limit
    double increment_ = 1;  // amount of one step
    double value_ = 0;      // current value, within the limits
};
