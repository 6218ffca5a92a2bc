#include "app/dlg_stinger_editor.h"

#include <QApplication>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <algorithm>
#include <cstring>

#include "app/control_ids.h"
#include "app/effect_templates.h"
#include "app/pic_ctrl.h"
#include "app/tick_slider.h"
#include "effects/stinger.h"

namespace rk {

namespace {

constexpr int kPlayFrameMs = 20;  // 50 frames a second

// The controls only the keyframed editing shows; cut mode shows "Set cut
// position" in their place.
constexpr int kKeyControls[] = {IDC_POSITION_SLIDER, IDC_POSITION_TEXT, IDC_POSITION_KEY_FRAME, IDC_KEY_CLEAR,
                                IDC_KEY_ADD,         IDC_KEY_DELETE,    IDC_EDITOR_FADE_LABEL,  IDC_FADE_SLIDER,
                                IDC_FADE_TEXT,       IDC_FADE_KEY_FRAME};

}  // namespace

CDlgStingerEditor::CDlgStingerEditor(QWidget* owner, IEffectKeys& effect, bool cutMode)
    : CCoolDialog(EffectEditorTemplate(), owner), effect_(effect), cutMode_(cutMode) {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setModal(true);
    RestyleControls();
    Translate();

    // The frame buttons' pictures.
    const struct {
        int id;
        QStyle::StandardPixmap icon;
    } images[] = {{IDC_FRAME_PREVIOUS, QStyle::SP_MediaSeekBackward},
                  {IDC_FRAME_NEXT, QStyle::SP_MediaSeekForward},
                  {IDC_FRAME_PLAY, QStyle::SP_MediaPlay}};
    for (const auto& image : images) {
        auto* b = ControlAs<QPushButton>(image.id);
        b->setIcon(style()->standardIcon(image.icon));
        b->setIconSize(QSize(b->height() - 6, b->height() - 6));
    }

    const int frames = effect_.FrameCount();
    PositionSlider()->setRange(0, kMaxPosition);
    FadeSlider()->setRange(0, kMaxFade);
    FrameSlider()->setRange(0, std::max(0, frames - 1));
    SetControlText(IDC_EDITOR_FRAME_COUNT, QString::number(frames));
    Preview()->CreateBitmap();

    for (int id : kKeyControls) ShowControl(id, !cutMode_);
    ShowControl(IDC_KEY_CUT, cutMode_);

    // The marker starts off: a mix never shows it, nor does cut mode.
    Preview()->SetMarker(-1);
    if (effect_.TransitionKind() == kTransitionMix) Preview()->Redraw();
    else ShowPosition(false);
    SetTicks();
    ShowCurrentFrame();

    auto click = [this](int id, void (CDlgStingerEditor::*handler)()) {
        connect(ControlAs<QPushButton>(id), &QPushButton::clicked, this, [this, handler] {
            if (!playing_) (this->*handler)();
        });
    };
    click(IDC_FRAME_PREVIOUS, &CDlgStingerEditor::OnPrevious);
    click(IDC_FRAME_NEXT, &CDlgStingerEditor::OnNext);
    click(IDC_FRAME_PLAY, &CDlgStingerEditor::OnPlay);
    click(IDC_KEY_ADD, &CDlgStingerEditor::OnAddKey);
    click(IDC_KEY_DELETE, &CDlgStingerEditor::OnDeleteKey);
    click(IDC_KEY_CLEAR, &CDlgStingerEditor::OnClearKeys);
    click(IDC_KEY_CUT, &CDlgStingerEditor::OnSetCut);
    connect(ControlAs<QPushButton>(IDC_EFFECT_OK), &QPushButton::clicked, this, [this] {
        if (!playing_) done(QDialog::Accepted);
    });
    connect(ControlAs<QPushButton>(IDC_EFFECT_CANCEL), &QPushButton::clicked, this, [this] {
        if (!playing_) done(QDialog::Rejected);
    });
    SetEscapeButton(IDC_EFFECT_CANCEL);
    connect(FrameSlider(), &QSlider::valueChanged, this, &CDlgStingerEditor::OnFrameSlider);
    connect(PositionSlider(), &QSlider::valueChanged, this, &CDlgStingerEditor::OnPositionSlider);
    connect(FadeSlider(), &QSlider::valueChanged, this, &CDlgStingerEditor::OnFadeSlider);
    connect(ControlAs<CClickLabel>(IDC_POSITION_TEXT), &CClickLabel::clicked, this, [this] {
        if (!playing_) OnPositionText();
    });
    connect(ControlAs<CClickLabel>(IDC_FADE_TEXT), &CClickLabel::clicked, this, [this] {
        if (!playing_) OnFadeText();
    });
    connect(Preview(), &CPicCtrl::pressed, this, &CDlgStingerEditor::OnPreviewPress);

    playTimer_.setSingleShot(true);
    playTimer_.setTimerType(Qt::PreciseTimer);
    connect(&playTimer_, &QTimer::timeout, this, &CDlgStingerEditor::OnPlayTick);
    setFixedSize(size());
}

CDlgStingerEditor::~CDlgStingerEditor() {
    if (playing_) QApplication::restoreOverrideCursor();
}

bool CDlgStingerEditor::Run() { return exec() == QDialog::Accepted; }

CPicCtrl* CDlgStingerEditor::Preview() const { return ControlAs<CPicCtrl>(IDC_EDITOR_PREVIEW); }
CTickSlider* CDlgStingerEditor::FrameSlider() const { return ControlAs<CTickSlider>(IDC_FRAME_SLIDER); }
CTickSlider* CDlgStingerEditor::PositionSlider() const { return ControlAs<CTickSlider>(IDC_POSITION_SLIDER); }
CTickSlider* CDlgStingerEditor::FadeSlider() const { return ControlAs<CTickSlider>(IDC_FADE_SLIDER); }

QString CDlgStingerEditor::PositionText(int position) {
    const int a = position * 100 / kMaxPosition;
    return QStringLiteral("%1% / %2%").arg(a).arg(100 - a);
}

QString CDlgStingerEditor::FadeText(int fade) { return QStringLiteral("%1%").arg(fade * 100 / kMaxFade); }

void CDlgStingerEditor::StyleControl(int id, QWidget* control) {
    CCoolDialog::StyleControl(id, control);
    if (id == IDC_POSITION_TEXT || id == IDC_FADE_TEXT)
        control->setStyleSheet(QStringLiteral("QLabel { color: rgb(0,200,0); background: transparent; }"));
}

bool CDlgStingerEditor::KeyCommandAllowed() const { return !playing_ && current_ >= 0 && current_ < effect_.FrameCount(); }

void CDlgStingerEditor::ShowPosition(bool moveSlider) {
    const int v = effect_.PositionAt(current_, false);
    SetControlText(IDC_POSITION_TEXT, PositionText(v));
    if (moveSlider) {
        const QSignalBlocker quiet(PositionSlider());
        PositionSlider()->setValue(v);
    }
    const int kind = effect_.TransitionKind();
    if (kind == kTransitionWipe && cutMode_) return;
    if (kind == kTransitionWipe) {
        Preview()->SetMarker(v * 1000 / kMaxPosition);
        Preview()->update();
    }
    if (!cutMode_) {
        const bool key = effect_.PositionKey(current_) >= 0;
        ShowControl(IDC_POSITION_KEY_FRAME, key);
        ShowControl(IDC_KEY_DELETE, key);
        ShowControl(IDC_KEY_ADD, !key);
    }
}

void CDlgStingerEditor::ShowFade(bool moveSlider) {
    const int v = effect_.FadeAt(current_);
    SetControlText(IDC_FADE_TEXT, FadeText(v));
    if (moveSlider) {
        const QSignalBlocker quiet(FadeSlider());
        FadeSlider()->setValue(v);
    }
    if (!cutMode_) ShowControl(IDC_FADE_KEY_FRAME, effect_.FadeKey(current_) >= 0);
}

void CDlgStingerEditor::SetTicks() {
    CTickSlider* s = FrameSlider();
    s->ClearTicks();
    if (cutMode_) {
        const int cut = effect_.CutFrame();
        if (cut >= 0) s->AddTick(cut);
        return;
    }
    for (const auto& key : effect_.PositionKeys()) s->AddTick(key.first);
}

void CDlgStingerEditor::ShowCurrentFrame() {
    SetControlText(IDC_EDITOR_FRAME, QString::number(current_ + 1));
    {
        const QSignalBlocker quiet(FrameSlider());
        FrameSlider()->setValue(current_);
    }
    ShowPosition(true);
    ShowFade(true);
    CPicture& canvas = Preview()->Picture();
    canvas.Checkerboard();
    // Opaque pixels of the frame replace the board, transparent ones leave it.
    const PreviewPixels preview = effect_.Preview(std::max(current_, 0));
    CPicture frame;
    if (preview.bits && frame.Create(preview.width, preview.height)) {
        std::memcpy(frame.Bits(), preview.bits, frame.ByteSize());
        canvas.Composite(frame, CPicCtrl::kWidth, CPicCtrl::kHeight, 1);
    }
    Preview()->Redraw();
    emit frameShown(current_);
}

void CDlgStingerEditor::SetCurrent(int frame) {
    current_ = frame;
    ShowCurrentFrame();
}

void CDlgStingerEditor::OnPrevious() {
    if (current_ > 0) SetCurrent(current_ - 1);
}

void CDlgStingerEditor::OnNext() {
    if (current_ < effect_.FrameCount() - 1) SetCurrent(current_ + 1);
}

void CDlgStingerEditor::OnPlay() {
    if (playing_ || effect_.FrameCount() <= 0) return;
    playing_ = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    playNext_ = 0;
    playClock_.start();
    OnPlayTick();
}

void CDlgStingerEditor::OnPlayTick() {
    if (!playing_) return;
    const int i = playNext_++;
    SetCurrent(i);
    if (playNext_ >= effect_.FrameCount()) {
        playing_ = false;
        QApplication::restoreOverrideCursor();
        emit playFinished();
        return;
    }
    // The next frame once i frames' time has passed since the start, but
    // never at once: every frame is drawn before the next.
    const qint64 wait = qint64(i) * kPlayFrameMs - playClock_.elapsed();
    playTimer_.start(int(std::max<qint64>(1, wait)));
}

void CDlgStingerEditor::OnFrameSlider(int value) {
    if (playing_) {
        const QSignalBlocker quiet(FrameSlider());
        FrameSlider()->setValue(current_);
        return;
    }
    if (value != current_) SetCurrent(value);
}

void CDlgStingerEditor::OnPositionSlider(int value) {
    if (!KeyCommandAllowed()) return;
    effect_.SetPositionKey(current_, value);
    SetTicks();
    ShowPosition(false);
}

void CDlgStingerEditor::OnFadeSlider(int value) {
    if (!KeyCommandAllowed()) return;
    effect_.SetFadeKey(current_, value);
    ShowFade(false);
}

void CDlgStingerEditor::OnPositionText() {
    if (!KeyCommandAllowed()) return;
    effect_.SetPositionKey(current_, effect_.PositionKey(current_) < 0 ? PositionSlider()->value() : -1);
    SetTicks();
    ShowPosition(true);
}

void CDlgStingerEditor::OnFadeText() {
    if (!KeyCommandAllowed()) return;
    effect_.SetFadeKey(current_, effect_.FadeKey(current_) < 0 ? FadeSlider()->value() : -1);
    ShowFade(true);
}

void CDlgStingerEditor::OnAddKey() {
    if (!KeyCommandAllowed() || effect_.PositionKey(current_) >= 0) return;
    effect_.SetPositionKey(current_, PositionSlider()->value());
    SetTicks();
    ShowPosition(true);
}

void CDlgStingerEditor::OnDeleteKey() {
    if (!KeyCommandAllowed()) return;
    if (effect_.PositionKey(current_) >= 0) {
        effect_.SetPositionKey(current_, -1);
        SetTicks();
        ShowPosition(true);
    }
    if (effect_.FadeKey(current_) >= 0) {
        effect_.SetFadeKey(current_, -1);
        ShowFade(true);
    }
}

void CDlgStingerEditor::OnClearKeys() {
    if (!KeyCommandAllowed()) return;
    effect_.ResetKeyframes();
    SetTicks();
    ShowPosition(true);
    ShowFade(true);
}

void CDlgStingerEditor::OnSetCut() {
    if (!KeyCommandAllowed()) return;
    effect_.SetCutPosition(current_);
    SetTicks();
    ShowPosition(true);
}

void CDlgStingerEditor::OnPreviewPress(QPoint point) {
    // Only a wipe's position has a place in the picture.
    if (cutMode_ || effect_.TransitionKind() != kTransitionWipe || !KeyCommandAllowed()) return;
    const int width = Preview()->width();
    if (point.x() <= 0 || point.x() >= width || point.y() < 0 || point.y() > Preview()->height()) return;
    effect_.SetPositionKey(current_, point.x() * kMaxPosition / width);
    SetTicks();
    ShowPosition(true);
}

}  // namespace rk
