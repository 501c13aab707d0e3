#include "app/ui/picture_box.h"

#include <QPainter>
#include <QResizeEvent>

namespace benchcap::app {

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, background());
    setPalette(pal);
    setAutoFillBackground(true);
    canvas_ = QImage(QSize(1, 1), QImage::Format_RGB32);
    canvas_.fill(background());
}

void PictureBox::setScale(double left, double top, double width, double height) {
    scale_ = QRectF(left, top, width, height);
}

QPointF PictureBox::toPixels(QPointF p) const {
    const double sx = scale_.width() != 0 ? width() / scale_.width() : 0;
    const double sy = scale_.height() != 0 ? height() / scale_.height() : 0;
    return {(p.x() - scale_.left()) * sx, (p.y() - scale_.top()) * sy};
}

void PictureBox::setPicture(const QImage& picture) {
    renderer_ = {};
    picture_ = picture;
    cls();
}

void PictureBox::setPictureRenderer(PictureRenderer render) {
    renderer_ = std::move(render);
    picture_ = renderer_ ? renderer_(size()) : QImage();
    cls();
}

void PictureBox::growCanvas(QSize size) {
    // The bitmap grows with the area and keeps what it holds; shrinking keeps it too, so
    // a window made smaller and larger again loses nothing that was drawn.
    const QSize want = size.expandedTo(canvas_.size());
    if (want == canvas_.size())
        return;
    QImage grown(want, QImage::Format_RGB32);
    grown.fill(background());
    QPainter p(&grown);
    p.drawImage(0, 0, canvas_);
    // The area's own picture was cut at the old size: it is shown whole again.
    if (!picture_.isNull())
        p.drawImage(0, 0, picture_);
    p.end();
    canvas_ = std::move(grown);
}

void PictureBox::cls() {
    // A command may draw before the window is first shown (the command line runs then):
    // the canvas takes the area's size at once, not at the first resize event.
    growCanvas(size());
    canvas_.fill(background());
    if (!picture_.isNull()) {
        QPainter p(&canvas_);
        p.drawImage(0, 0, picture_);
    }
    update();
}

void PictureBox::paintPicture(const QImage& image, double x, double y, double w, double h) {
    if (image.isNull())
        return;
    const QPointF a = toPixels({x, y});
    const QPointF b = toPixels({x + w, y + h});
    growCanvas(size());
    QPainter p(&canvas_);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRectF(a, b).normalized(), image);
    update();
}

void PictureBox::paintStretched(const QImage& image) {
    paintPicture(image, scale_.left(), scale_.top(), scale_.width(), scale_.height());
}

void PictureBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, canvas_);
}

void PictureBox::resizeEvent(QResizeEvent* event) {
    if (renderer_ && event->size() != event->oldSize()) {
        picture_ = renderer_(event->size());
        growCanvas(event->size());
        cls();
        QWidget::resizeEvent(event);
        return;
    }
    growCanvas(event->size());
    QWidget::resizeEvent(event);
}

}  // namespace benchcap::app
