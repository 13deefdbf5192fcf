#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

namespace tolvane {

// A picture read for the preview, or why it could not be.
struct PreviewImage {
    QImage image;   // scaled down on reading when the picture is very large
    QSize fullSize; // the picture's own size, when known
    QString error;  // empty when image holds the picture
};

// Reads path for the preview. Pictures larger than maxSide on either side are decoded at a
// reduced size, so a huge image never costs its full memory.
PreviewImage readPreviewImage(const QString& path, int maxSide = 2048);

// Shows one picture on a checkerboard, so transparent parts show on any palette. Scaled to fit,
// never enlarged beyond four times (pixel by pixel, so details stay visible); a very thin
// picture is drawn at least a few pixels thick so it never vanishes. Without a picture it shows
// a text in its place.
class ImagePreview : public QWidget {
    Q_OBJECT

  public:
    explicit ImagePreview(QWidget* parent = nullptr);

    void showPicture(const QImage& picture);
    void showText(const QString& text);

    const QImage& picture() const { return picture_; }
    const QString& text() const { return text_; }
    // Where the picture is drawn in the widget; empty without a picture.
    QRect pictureRect() const;

    QSize sizeHint() const override { return {320, 240}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage picture_;
    QString text_;
};

} // namespace tolvane
