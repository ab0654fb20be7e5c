#include "Stepper.h"

#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

QToolButton* arrowButton(Qt::ArrowType arrow, const char* name, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(15, 11);
    return button;
}

}  // namespace

Stepper::Stepper(QWidget* parent)
    : QWidget(parent),
      up_(arrowButton(Qt::UpArrow, "stepUp", this)),
      down_(arrowButton(Qt::DownArrow, "stepDown", this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(up_);
    layout->addWidget(down_);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(up_, &QToolButton::clicked, this, &Stepper::stepUp);
    connect(down_, &QToolButton::clicked, this, &Stepper::stepDown);
}

QSize Stepper::sizeHint() const {
    return {15, 22};
}

int64_t Stepper::integerValue() const {
    // Limits within the exactly representable range keep the cast defined.
    constexpr double limit = 9.2e18;
    return static_cast<int64_t>(std::clamp(value_, -limit, limit));
}

void Stepper::setMinimum(double minimum) {
    if (std::isnan(minimum)) return;
    minimum_ = minimum;
    maximum_ = std::max(maximum_, minimum_);
    setValue(value_);
}

void Stepper::setMaximum(double maximum) {
    if (std::isnan(maximum)) return;
    maximum_ = maximum;
    minimum_ = std::min(minimum_, maximum_);
    setValue(value_);
}

void Stepper::setIncrement(double increment) {
    if (std::isfinite(increment) && increment > 0) increment_ = increment;
}

void Stepper::setValue(double value) {
    if (std::isnan(value)) return;
    const double held = std::clamp(value, minimum_, maximum_);
    if (held == value_) return;
    value_ = held;
    emit valueChanged(value_);
}

void Stepper::step(double amount) {
    setValue(value_ + amount);
    emit activated();
}

void Stepper::stepUp() {
    step(increment_);
}

void Stepper::stepDown() {
    step(-increment_);
}

void Stepper::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up)
        stepUp();
    else if (event->key() == Qt::Key_Down)
        stepDown();
    else
        QWidget::keyPressEvent(event);
}
