// A toolbar button that shows a toggle which is switched on in the accent colour.
//
// `tag` steers it and the toolbar's menus: 1 is a toggle (drawn in the accent colour while on,
// its menu entry mirrors its state), a negative tag gets no menu entry, 0 or any other positive
// tag is an ordinary button. An "on" toggle draws a tinted copy of its icon and its text in the
// accent colour; otherwise the icon is drawn as a template (its shape in the text colour) and
// the text in the control text colour. The button's own icon is never changed.
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QToolButton>

class ToolbarButton : public QToolButton {
    Q_OBJECT
    Q_PROPERTY(int tag READ tag WRITE setTag)

  public:
    explicit ToolbarButton(QWidget* parent = nullptr);

    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }

    // True when the button draws in the accent colour: a tag-1 button that is on.
    bool isAccented() const { return tag_ == 1 && isChecked(); }
    // The colour of the icon and text as drawn now.
    QColor drawingColor() const;
    // The icon as drawn now: a tinted copy of the button's icon.
    QIcon displayedIcon() const;

    // A copy of `image` painted with `color` wherever it has coverage, keeping its alpha.
    static QImage tintedImage(const QImage& image, const QColor& color);
    // The system accent colour.
    static QColor accentColor(const QPalette& palette);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int tag_ = 0;
};
