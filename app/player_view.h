#pragma once
// CPlayerView: the player's picture. It paints the current RGBA frame
// straight from the frame's own storage (a QImage over it, no copy), scaled
// to fit the widget with its aspect kept; items with transparency over a
// checkerboard, or their alpha alone as grey ("show alpha"); an effect's
// marks as the effect editor draws them: the wipe's position as a hatched
// bar across the picture, the position and fade as green texts.
#include <QImage>
#include <QString>
#include <QWidget>

namespace rk {

class RgbaFrame;

class CPlayerView : public QWidget {
    Q_OBJECT
public:
    explicit CPlayerView(QWidget* parent = nullptr);

    // Shows `frame`, which must stay alive and unchanged until the next
    // SetFrame or ClearFrame. `alpha`: draw it over the checkerboard.
    void SetFrame(const RgbaFrame& frame, bool alpha);
    void ClearFrame();
    void SetShowAlpha(bool on);
    bool ShowAlpha() const { return showAlpha_; }
    // The wipe marker in tenths of a percent of the width (-1: none) and
    // the mark texts (empty: none).
    void SetMarks(int markerPerMille, const QString& positionText, const QString& fadeText);
    int Marker() const { return marker_; }

    // Where the picture lands inside the widget.
    QRect PictureRect() const;
    // The frame as the view holds it (a view over the frame's storage).
    const QImage& Image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const QImage& AlphaImage();

    QImage image_;
    QImage alphaImage_;  // the alpha as grey, made when asked for
    bool alphaStale_ = true;
    bool alpha_ = false;
    bool showAlpha_ = false;
    int marker_ = -1;
    QString positionText_;
    QString fadeText_;
};

}  // namespace rk
