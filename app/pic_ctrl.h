#pragma once
// CPicCtrl: the 640 x 360 preview picture of the effect editor, drawn one to
// one at 640 x 360 and stretched to any other size of the control, with an
// optional position marker: a hatched bar across the full height at a per
// mille of the width, mixed into the picture so it shows on any content.
#include <QImage>
#include <QWidget>

#include "media/picture.h"

namespace rk {

class CPicCtrl : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 360;

    explicit CPicCtrl(QWidget* parent = nullptr);

    // Makes the 640 x 360 bitmap (and the picture behind it) unless it
    // exists already.
    void CreateBitmap();
    bool HasBitmap() const { return !bitmap_.isNull(); }
    // The picture the bitmap is drawn from (B, G, R, T; T is not drawn).
    CPicture& Picture() { return picture_; }
    const CPicture& Picture() const { return picture_; }
    // Takes the picture into the bitmap and redraws.
    void Redraw();
    // The marker position in tenths of a percent of the width; -1 hides it.
    void SetMarker(int perMille);
    int Marker() const { return marker_; }
    const QImage& Bitmap() const { return bitmap_; }

    // The columns the marker covers on a control `width` wide (inclusive);
    // false without a marker.
    static bool MarkerSpan(int width, int perMille, int& left, int& right);

signals:
    // A left press, in the control's own pixels.
    void pressed(QPoint point);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QImage bitmap_;
    CPicture picture_;
    int marker_ = -1;
};

}  // namespace rk
