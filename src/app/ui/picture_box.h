#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QWidget>

#include <functional>

namespace benchcap::app {

// The picture area: a widget that keeps what is drawn on it in a persistent bitmap, so
// that the window repaints it at any time, with a user coordinate system (width 1 and
// height 1 at start, width 100 and height -100 for printing, the plot's own for traces)
// and a tag naming what it shows ("BMP", "WMF").
class PictureBox : public QWidget {
    Q_OBJECT
  public:
    static QColor background() { return {224, 224, 224}; }

    explicit PictureBox(QWidget* parent = nullptr);

    QString tag() const { return tag_; }
    void setTag(const QString& tag) { tag_ = tag; }

    // Coordinate system: the top-left corner is (left, top), the area spans width and height.
    void setScale(double left, double top, double width, double height);
    void setScale(double width, double height) { setScale(0, 0, width, height); }
    QRectF scale() const { return scale_; }
    // Pixel position of a point in the coordinate system.
    QPointF toPixels(QPointF p) const;

    // The area's own picture, drawn at its top-left corner under everything drawn on the
    // area; cls() brings it back. A null image removes it.
    void setPicture(const QImage& picture);
    const QImage& picture() const { return picture_; }
    // The area's own picture drawn anew for each size the area takes (a metafile or a plot,
    // which draw sharply at any size); replaced by the next setPicture.
    using PictureRenderer = std::function<QImage(QSize area)>;
    void setPictureRenderer(PictureRenderer render);

    // Clears the area to its background (and its own picture).
    void cls();
    // Draws `image` stretched into the rectangle given in the coordinate system.
    void paintPicture(const QImage& image, double x, double y, double width, double height);
    // Draws `image` stretched over the whole area.
    void paintStretched(const QImage& image);

    // What is on display (the persistent bitmap).
    const QImage& canvas() const { return canvas_; }
    QImage& canvas() { return canvas_; }
    // The canvas at least as large as the area, for drawing on it directly (a command may
    // draw before the window is first shown and the area has its size).
    QImage& canvasAtAreaSize() {
        growCanvas(size());
        return canvas_;
    }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void growCanvas(QSize size);
    QImage canvas_;
    QImage picture_;
    PictureRenderer renderer_;
    QRectF scale_{0, 0, 1, 1};
    QString tag_;
};

// The hidden holder of the last bitmap hardcopy, so the picture area can redraw it.
class PictureHolder : public QWidget {
    Q_OBJECT
  public:
    explicit PictureHolder(QWidget* parent = nullptr) : QWidget(parent) { hide(); }
    const QImage& picture() const { return picture_; }
    void setPicture(const QImage& picture) { picture_ = picture; }

  private:
    QImage picture_;
};

}  // namespace benchcap::app
