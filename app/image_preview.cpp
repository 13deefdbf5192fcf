#include "app/image_preview.hpp"

#include <QImageReader>
#include <QPainter>
#include <QPen>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>
#include <cmath>

namespace tolvane {

namespace {

constexpr int margin = 8;
constexpr int thinnest = 8; // a side drawn thinner than this is stretched to it
constexpr double largestEnlargement = 4.0;
const QColor backdrop(0x80, 0x80, 0x80);
const QColor frameColour(0x30, 0x30, 0x30);

} // namespace

PreviewImage readPreviewImage(const QString& path, int maxSide) {
    PreviewImage result;
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid()) {
        result.fullSize = size;
        if (size.width() > maxSide || size.height() > maxSide)
            reader.setScaledSize(
                size.scaled(maxSide, maxSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    }
    result.image = reader.read();
    if (result.image.isNull())
        result.error = reader.errorString();
    else if (!result.fullSize.isValid())
        result.fullSize = result.image.size();
    return result;
}

ImagePreview::ImagePreview(QWidget* parent) : QWidget(parent) {
    setMinimumSize(120, 90);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setFocusPolicy(Qt::StrongFocus); // reached by Tab, so a keyboard user passes it in order
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

void ImagePreview::showPicture(const QImage& picture) {
    picture_ = picture;
    text_.clear();
    update();
}

void ImagePreview::showText(const QString& text) {
    picture_ = QImage();
    text_ = text;
    update();
}

QRect ImagePreview::pictureRect() const {
    if (picture_.isNull())
        return {};
    const QRect room = rect().adjusted(margin, margin, -margin, -margin);
    if (room.isEmpty())
        return {};
    const double scale = std::min({largestEnlargement, double(room.width()) / picture_.width(),
                                   double(room.height()) / picture_.height()});
    // A side scaled below a few pixels is drawn at that thickness: a 630 × 1 line stays visible.
    const int width =
        std::min(room.width(), std::max(thinnest, int(std::lround(picture_.width() * scale))));
    const int height =
        std::min(room.height(), std::max(thinnest, int(std::lround(picture_.height() * scale))));
    QRect target(0, 0, std::max(1, width), std::max(1, height));
    target.moveCenter(room.center());
    return target;
}

void ImagePreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.frameShape = QFrame::StyledPanel;
    frame.lineWidth = 1;
    style()->drawPrimitive(QStyle::PE_Frame, &frame, &painter, this);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(2, 2, -2, -2);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }

    const QRect target = pictureRect();
    if (target.isEmpty()) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(rect().adjusted(margin, margin, -margin, -margin),
                         Qt::AlignCenter | Qt::TextWordWrap, text_);
        return;
    }
    // A mid grey backdrop and a dark frame: a white or a black picture shows its edges on any
    // palette.
    painter.fillRect(rect().adjusted(margin / 2, margin / 2, -margin / 2, -margin / 2), backdrop);
    painter.setPen(QPen(frameColour, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(target.adjusted(-1, -1, 0, 0));
    // Light and mid grey squares, the same on every palette: transparent parts show as such.
    constexpr int square = 8;
    painter.save();
    painter.setClipRect(target);
    for (int y = target.top(); y <= target.bottom(); y += square)
        for (int x = target.left(); x <= target.right(); x += square) {
            const bool light =
                (((x - target.left()) / square + (y - target.top()) / square) % 2) == 0;
            painter.fillRect(QRect(x, y, square, square),
                             light ? QColor(0xee, 0xee, 0xee) : QColor(0xbb, 0xbb, 0xbb));
        }
    painter.restore();
    // Enlarged pictures stay crisp pixel by pixel; reduced ones are smoothed.
    const bool enlarging = target.width() > picture_.width() || target.height() > picture_.height();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !enlarging);
    painter.drawImage(target, picture_);
}

} // namespace tolvane
