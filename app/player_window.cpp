#include "app/player_window.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/dlg_stinger_editor.h"
#include "app/player_sound.h"
#include "app/player_view.h"
#include "app/skin.h"
#include "app/tick_slider.h"
#include "base/texts.h"
#include "card/card_directory.h"
#include "codec/effect_marks.h"
#include "effects/stinger.h"
#include "media/item_frames.h"

namespace rk {

namespace {

// Frames taken ahead of the one on screen, their sound already with the
// sink: enough to ride over a slow frame, few enough for a quick pause.
constexpr size_t kAheadFrames = 6;
// The read-ahead queue's depth.
constexpr size_t kQueueDepth = 4;
// Frames in hand before a run's timeline starts: the reader's lead and the
// frame due first.
constexpr size_t kPrerollFrames = kPictureLeadFrames + 1;
// How long a paused step waits for its frame (a card that stopped
// answering must not hang the window for ever).
constexpr int kStepWaitMs = 10000;

QString Text(int id) { return QString::fromStdString(LoadText(id)); }

}  // namespace

CPlayerWindow::CPlayerWindow(std::unique_ptr<CItemFrames> frames, std::unique_ptr<IPlayerSound> sound,
                             const QString& caption, QWidget* parent)
    : QWidget(parent, Qt::Window), frames_(std::move(frames)), sound_(std::move(sound)) {
    setObjectName(QStringLiteral("playerWindow"));
    setWindowTitle(QString::fromStdString(FormatText(IDS_PLAYER_CAPTION, caption.toUtf8().constData())));
    setWindowIcon(skin::AppIcon());
    displayRate_ = std::max(1, (frames_->RateNum() + frames_->RateDen() / 2) / std::max(1, frames_->RateDen()));
    alpha_ = frames_->HasAlpha();
    prefetch_ = std::make_unique<CFramePrefetcher>(*frames_, kQueueDepth);
    // Every picture storage a play passes round, made before the first.
    spare_.resize(kAheadFrames + 1);
    for (PrefetchedFrame& f : spare_) WarmPicture(f, frames_->Width(), frames_->Height());
    WarmPicture(incoming_, frames_->Width(), frames_->Height());
    WarmPicture(shown_, frames_->Width(), frames_->Height());
    BuildControls();

    tick_.setSingleShot(true);
    tick_.setTimerType(Qt::PreciseTimer);
    connect(&tick_, &QTimer::timeout, this, &CPlayerWindow::OnTick);

    // A repeating playlist loops from the start.
    SetLoop(frames_->EndMode() == PlayEnd::kRepeat);
    ShowFrameAt(0);
    UpdateStatus();
}

CPlayerWindow::~CPlayerWindow() {
    tick_.stop();
    // The view paints from frames this window owns; the thread reads the
    // card through frames_: both end before the frames go.
    if (prefetch_) prefetch_->Stop();
    prefetch_.reset();
}

void CPlayerWindow::BuildControls() {
    QPalette pal = palette();
    pal.setColor(QPalette::Window, skin::kDialogBrush);
    pal.setColor(QPalette::WindowText, skin::kText);
    setPalette(pal);
    setAutoFillBackground(true);
    setStyleSheet(skin::StyleSheet() + QStringLiteral(" QLabel, QCheckBox { color: rgb(220,220,220); }"));

    view_ = new CPlayerView(this);
    view_->setObjectName(QStringLiteral("playerView"));

    scrub_ = new CTickSlider(Qt::Horizontal, this);
    scrub_->setObjectName(QStringLiteral("playerScrub"));
    scrub_->setRange(0, int(std::max<int64_t>(0, frames_->FrameCount() - 1)));
    scrub_->setFocusPolicy(Qt::NoFocus);
    // A playlist's clips start at the ticks.
    for (int c = 1; c < frames_->ClipCount(); ++c) scrub_->AddTick(int(frames_->Clip(c).firstFrame));
    connect(scrub_, &QSlider::valueChanged, this, [this](int v) {
        if (v != current_) ShowFrameAt(v);
    });

    auto button = [this](QStyle::StandardPixmap icon, const char* name, void (CPlayerWindow::*handler)()) {
        auto* b = new QPushButton(this);
        b->setIcon(style()->standardIcon(icon));
        b->setObjectName(QLatin1String(name));
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedSize(34, 24);
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };
    auto* row = new QHBoxLayout;
    row->addWidget(button(QStyle::SP_MediaSkipBackward, "playerStart", &CPlayerWindow::GoToStart));
    row->addWidget(button(QStyle::SP_MediaSeekBackward, "playerBack", &CPlayerWindow::StepBack));
    playButton_ = button(QStyle::SP_MediaPlay, "playerPlay", &CPlayerWindow::TogglePlay);
    row->addWidget(playButton_);
    row->addWidget(button(QStyle::SP_MediaSeekForward, "playerForward", &CPlayerWindow::StepForward));
    row->addWidget(button(QStyle::SP_MediaSkipForward, "playerEnd", &CPlayerWindow::GoToEnd));

    time_ = new QLabel(this);
    time_->setObjectName(QStringLiteral("playerTime"));
    frameLabel_ = new QLabel(this);
    frameLabel_->setObjectName(QStringLiteral("playerFrame"));
    row->addSpacing(8);
    row->addWidget(time_);
    row->addSpacing(8);
    row->addWidget(frameLabel_);
    row->addStretch(1);

    // The level meter: one thin bar a channel.
    auto* meter = new QVBoxLayout;
    meter->setSpacing(2);
    for (auto*& bar : levels_) {
        bar = new QProgressBar(this);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        bar->setFixedSize(120, 6);
        meter->addWidget(bar);
    }
    levels_[0]->setObjectName(QStringLiteral("playerLevelLeft"));
    levels_[1]->setObjectName(QStringLiteral("playerLevelRight"));
    row->addLayout(meter);

    auto check = [this](int text, const char* name) {
        auto* c = new QCheckBox(Text(text), this);
        c->setObjectName(QLatin1String(name));
        c->setFocusPolicy(Qt::NoFocus);
        return c;
    };
    mute_ = check(IDS_PLAYER_MUTE, "playerMute");
    loop_ = check(IDS_PLAYER_LOOP, "playerLoop");
    showAlpha_ = check(IDS_PLAYER_SHOW_ALPHA, "playerShowAlpha");
    showAlpha_->setVisible(alpha_);
    connect(mute_, &QCheckBox::toggled, this, &CPlayerWindow::SetMuted);
    connect(loop_, &QCheckBox::toggled, this, &CPlayerWindow::SetLoop);
    connect(showAlpha_, &QCheckBox::toggled, this, &CPlayerWindow::SetShowAlpha);
    row->addWidget(mute_);
    row->addWidget(loop_);
    row->addWidget(showAlpha_);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("playerStatus"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(view_, 1);
    layout->addWidget(scrub_);
    layout->addLayout(row);
    layout->addWidget(status_);
    resize(960 + 12, 540 + 110);
    setFocusPolicy(Qt::StrongFocus);
}

// ---- Commands ----

void CPlayerWindow::Play() {
    if ((playing_ && step_ > 0) || frames_->FrameCount() <= 0) return;
    if (playing_) EndRun();
    // From the frame shown; at the end without a loop, from the start.
    int64_t from = std::max<int64_t>(0, current_);
    if (from >= frames_->FrameCount() - 1 && !Loop()) from = 0;
    StartRun(from, 1);
}

void CPlayerWindow::PlayBackward() {
    if ((playing_ && step_ < 0) || frames_->FrameCount() <= 0) return;
    if (playing_) EndRun();
    int64_t from = std::max<int64_t>(0, current_);
    if (from == 0 && !Loop()) from = frames_->FrameCount() - 1;
    StartRun(from, -1);
}

void CPlayerWindow::Pause() {
    if (!playing_) return;
    EndRun();
}

void CPlayerWindow::TogglePlay() {
    if (playing_) Pause();
    else Play();
}

void CPlayerWindow::ShowFrameAt(int64_t n) {
    if (playing_) EndRun();
    const int64_t count = frames_->FrameCount();
    if (count <= 0) return;
    n = std::clamp<int64_t>(n, 0, count - 1);
    // A step to the frame the queue gives next needs no seek.
    if (n != queueNext_) prefetch_->Start(n);
    queueNext_ = -1;
    if (!prefetch_->Take(incoming_, kStepWaitMs)) return;
    Show(incoming_);
    queueNext_ = n + 1 < count ? n + 1 : (Loop() ? 0 : -1);
}

void CPlayerWindow::ReadThrough(std::unique_ptr<IFrameSource> source) {
    if (playing_) EndRun();
    prefetch_.reset();
    source_ = std::move(source);
    prefetch_ = std::make_unique<CFramePrefetcher>(source_ ? *source_ : *frames_, kQueueDepth);
    prefetch_->SetWrap(Loop());
    queueNext_ = -1;
}

void CPlayerWindow::StepForward() {
    if (current_ + 1 < frames_->FrameCount()) ShowFrameAt(current_ + 1);
    else if (playing_) Pause();
}

void CPlayerWindow::StepBack() { ShowFrameAt(std::max<int64_t>(0, current_ - 1)); }
void CPlayerWindow::GoToStart() { ShowFrameAt(0); }
void CPlayerWindow::GoToEnd() { ShowFrameAt(frames_->FrameCount() - 1); }

bool CPlayerWindow::Loop() const { return loop_ && loop_->isChecked(); }

void CPlayerWindow::SetLoop(bool loop) {
    if (loop_->isChecked() != loop) {
        const QSignalBlocker quiet(loop_);
        loop_->setChecked(loop);
    }
    prefetch_->SetWrap(loop);
    // What the paused queue holds past the end changes with the wrap.
    if (!playing_ && current_ == frames_->FrameCount() - 1) queueNext_ = -1;
}

void CPlayerWindow::SetMuted(bool muted) {
    muted_ = muted;
    if (mute_->isChecked() != muted) {
        const QSignalBlocker quiet(mute_);
        mute_->setChecked(muted);
    }
    sound_->SetMuted(muted);
}

void CPlayerWindow::SetShowAlpha(bool on) {
    if (showAlpha_->isChecked() != on) {
        const QSignalBlocker quiet(showAlpha_);
        showAlpha_->setChecked(on);
    }
    view_->SetShowAlpha(on);
}

void CPlayerWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Space: TogglePlay(); break;
        case Qt::Key_J: PlayBackward(); break;
        case Qt::Key_K: Pause(); break;
        case Qt::Key_L: Play(); break;
        case Qt::Key_Left: StepBack(); break;
        case Qt::Key_Right: StepForward(); break;
        case Qt::Key_Home: GoToStart(); break;
        case Qt::Key_End: GoToEnd(); break;
        case Qt::Key_Escape: close(); break;
        default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

// ---- Playing ----

void CPlayerWindow::StartRun(int64_t from, int step) {
    playing_ = true;
    step_ = step < 0 ? -1 : 1;
    playButton_->setIcon(style()->standardIcon(QStyle::SP_MediaPause));
    for (PrefetchedFrame& a : ahead_) Recycle(std::move(a));
    ahead_.clear();
    clock_.Stop();
    // With the throttle on the reader skips the pictures the clock would
    // drop; with it off every frame is decoded and shown.
    ReadRun run;
    run.step = step_;
    run.clock = throttle_ ? &clock_ : nullptr;
    prefetch_->SetWrap(Loop());
    prefetch_->Start(from, run);
    queueNext_ = -1;
    sound_->Reset();
    sound_->SetMuted(muted_);
    sound_->Start();
    // Backwards the sound is not played (sound backwards helps nobody find
    // a frame): the system clock leads.
    soundLeads_ = sound_->HasDevice() && throttle_ && step_ > 0;
    UpdateStatus();
    OnTick();
}

void CPlayerWindow::EndRun() {
    tick_.stop();
    playing_ = false;
    playButton_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    prefetch_->Stop();
    clock_.Stop();
    queueNext_ = -1;
    for (PrefetchedFrame& a : ahead_) Recycle(std::move(a));
    ahead_.clear();
    sound_->Reset();
    UpdateStatus();
}

int64_t CPlayerWindow::ClockUs() {
    // Tick 0 is due at 0: when the first frame was taken, or its sound heard.
    if (soundLeads_) clock_.Set(sound_->PlayedFrames() * 1000000 / kPlayerSampleRate);
    return clock_.NowUs();
}

int64_t CPlayerWindow::Due(const PrefetchedFrame& frame) const {
    return DueMicros(frame.tick, frames_->RateNum(), frames_->RateDen());
}

void CPlayerWindow::FillAhead() {
    // The most samples one frame carries (the slow rates' shares and their
    // extra groups), so a write never overflows the device's buffer.
    const size_t frameSamples =
        size_t(kPlayerChannels) * size_t(kPlayerSampleRate * int64_t(frames_->RateDen()) / frames_->RateNum() + 4);
    const bool started = !throttle_ || clock_.NowUs() >= 0;
    while (ahead_.size() < kAheadFrames) {
        if (started && soundLeads_ && sound_->Room() < frameSamples && !ahead_.empty()) break;
        if (!prefetch_->Take(incoming_, 0)) break;
        PrefetchedFrame slot;
        if (!spare_.empty()) {
            slot = std::move(spare_.back());
            spare_.pop_back();
        }
        slot.swap(incoming_);
        if (started) Hear(slot);
        ahead_.push_back(std::move(slot));
    }
    if (started) return;
    // The timeline starts once a few frames are in hand: their sound goes
    // to the sink together, and the reader starts with the lead it keeps.
    if (ahead_.size() < kPrerollFrames && !prefetch_->AtEnd()) return;
    for (const PrefetchedFrame& f : ahead_) Hear(f);
    clock_.Set(0);
}

void CPlayerWindow::Hear(const PrefetchedFrame& frame) {
    if (step_ < 0) return;
    if (frame.soundFrames > 0) sound_->Write(frame.sound.data(), frame.soundFrames * kPlayerChannels);
    // An item without sound cannot lead: the system clock does.
    else if (soundLeads_ && frame.tick == 0) soundLeads_ = false;
}

void CPlayerWindow::OnTick() {
    if (!playing_) return;
    FillAhead();
    if (ahead_.empty()) {
        if (prefetch_->AtEnd()) {
            // The end without a loop: the last frame stays.
            EndRun();
            emit playEnded();
            return;
        }
        tick_.start(2);  // the reader is behind: look again shortly
        return;
    }
    if (!throttle_) {
        ShowHead();
        if (playing_) tick_.start(0);
        return;
    }
    if (clock_.NowUs() < 0) {
        tick_.start(2);  // still taking the first frames
        return;
    }
    const int64_t clock = ClockUs();
    while (!ahead_.empty()) {
        PrefetchedFrame& head = ahead_.front();
        // A picture the reader skipped is dropped at once: its sound is
        // already with the sink, and the frame on screen stays.
        if (head.skipped) {
            ++dropped_;
            Recycle(std::move(head));
            ahead_.pop_front();
            UpdateStatus();
            continue;
        }
        const int64_t due = Due(head);
        int64_t nextDue = -1;
        for (size_t i = 1; i < ahead_.size() && nextDue < 0; ++i)
            if (!ahead_[i].skipped) nextDue = Due(ahead_[i]);
        const FrameCall call = DecideFrame(due, clock, nextDue);
        if (call == FrameCall::kWait) {
            tick_.start(int(std::clamp<int64_t>((due - clock) / 1000, 1, 40)));
            return;
        }
        if (call == FrameCall::kDrop) {
            ++dropped_;
            Recycle(std::move(head));
            ahead_.pop_front();
            UpdateStatus();
            continue;
        }
        ShowHead();
        break;
    }
    if (playing_) tick_.start(1);
}

void CPlayerWindow::Show(PrefetchedFrame& frame) {
    // The frame on screen takes the new storage; the old goes back with
    // `frame` (the view is given the new one at once).
    shown_.swap(frame);
    current_ = shown_.number;
    view_->SetFrame(shown_.picture, alpha_);
    if (!throttle_) view_->repaint();
    if (shown_.status == FrameStatus::kDamaged) damagedFrame_ = current_;

    // The effect's marks of this frame, as the editor shows them.
    const std::vector<EffectMarks>& marks = frames_->Marks();
    if (current_ >= 0 && size_t(current_) < marks.size() && IsKeyframedEffectKind(marks[size_t(current_)].kind)) {
        const EffectMarks& m = marks[size_t(current_)];
        const int position = std::min(m.position, kMaxPosition);
        const int marker = m.kind == kTransitionWipe ? position * 1000 / kMaxPosition : -1;
        view_->SetMarks(marker, CDlgStingerEditor::PositionText(position), CDlgStingerEditor::FadeText(m.fade));
    } else {
        view_->SetMarks(-1, QString(), QString());
    }

    const SoundPeaks peaks = PeakLevels(shown_.sound.data(), shown_.soundFrames * kPlayerChannels);
    levels_[0]->setValue(int(peaks.left * 100));
    levels_[1]->setValue(int(peaks.right * 100));
    ++shownCount_;
    UpdateLabels();
    emit frameShown(current_);
}

void CPlayerWindow::ShowHead() {
    // Off the list first: whoever hears frameShown may pause, which empties it.
    PrefetchedFrame frame = std::move(ahead_.front());
    ahead_.pop_front();
    Show(frame);
    Recycle(std::move(frame));
}

void CPlayerWindow::Recycle(PrefetchedFrame&& frame) { spare_.push_back(std::move(frame)); }

// ---- Texts ----

QString CPlayerWindow::TimeText() const {
    return QString::fromStdString(FramesDurationText(std::max<int64_t>(0, current_), displayRate_));
}

QString CPlayerWindow::FrameText() const {
    return QString::fromStdString(
        FormatText(IDS_PLAYER_FRAME, int(std::max<int64_t>(0, current_) + 1), int(frames_->FrameCount())));
}

QString CPlayerWindow::StatusText() const {
    QStringList parts;
    if (!sound_->HasDevice()) parts << Text(IDS_PLAYER_NO_SOUND);
    if (dropped_ > 0) parts << QString::fromStdString(FormatText(IDS_PLAYER_DROPPED, int(dropped_)));
    if (damagedFrame_ >= 0) parts << QString::fromStdString(FormatText(IDS_PLAYER_DAMAGED, int(damagedFrame_ + 1)));
    return parts.join(QStringLiteral("   "));
}

void CPlayerWindow::UpdateLabels() {
    time_->setText(TimeText());
    frameLabel_->setText(FrameText());
    const QSignalBlocker quiet(scrub_);
    scrub_->setValue(int(std::max<int64_t>(0, current_)));
    if (damagedFrame_ == current_) UpdateStatus();
}

void CPlayerWindow::UpdateStatus() {
    if (status_) status_->setText(StatusText());
}

}  // namespace rk
