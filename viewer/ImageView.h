// A passive picture view: shows a QImage scaled proportionally to fill the view as far as it
// can, centred. The image window shows its histogram in one.
#pragma once

#include <QImage>
#include <QWidget>

class ImageView : public QWidget {
    Q_OBJECT

  public:
    explicit ImageView(QWidget* parent = nullptr);

    // Whether a scaled picture is filtered; off keeps magnified pixels sharp squares.
    bool smoothScaling = true;

    // The picture shown; null when there is none.
    QImage image() const { return image_; }
    // Shows `image` (a null image clears the view).
    void setImage(const QImage& image);

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage image_;
};
