#pragma once
// CPlayerWindow: plays one item of the card as the device will show it —
// its frames from the card's own decoder (CItemFrames, read ahead on a
// thread by CFramePrefetcher) and its sound. The controls operators know:
// Space plays and pauses; J, K and L shuttle (J plays backwards, silently;
// K pauses; L plays forwards); Left/Right step a frame,
// Home/End go to the first and last frame; a scrub bar with the time code
// and the frame number, a level meter, mute and loop, and for items with
// transparency the checkerboard and "show alpha".
//
// While playing the sound leads (player_timing.h): pictures are shown when
// the sound reaches them, and pictures that cannot be decoded in time are
// not (the reader skips them, media/frame_prefetch.h): dropped evenly and
// counted, while every frame's sound is played. With no sound device, and
// while playing backwards, the system clock leads, silently; the window
// says when there is no device.
// A playlist that repeats goes back to its first clip after the last (the
// loop starts ticked); one that stops holds its last frame.
#include <QTimer>
#include <QWidget>
#include <deque>
#include <memory>
#include <vector>

#include "app/player_timing.h"
#include "media/frame_prefetch.h"
#include "media/play_clock.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace rk {

class CItemFrames;
class CPlayerView;
class CTickSlider;
class IPlayerSound;

class CPlayerWindow : public QWidget {
    Q_OBJECT
public:
    // Plays `frames` with `sound` (the device's, or the null sink); `caption`
    // names the item. The window shows the first frame at once.
    CPlayerWindow(std::unique_ptr<CItemFrames> frames, std::unique_ptr<IPlayerSound> sound, const QString& caption,
                  QWidget* parent = nullptr);
    // Stops the read-ahead thread before the frames go.
    ~CPlayerWindow() override;

    void Play();
    // Plays backwards from the frame shown (from the last at the first,
    // without a loop), without sound.
    void PlayBackward();
    void Pause();
    void TogglePlay();
    // Shows frame n (clamped), paused.
    void ShowFrameAt(int64_t n);
    void StepForward();
    void StepBack();
    void GoToStart();
    void GoToEnd();
    void SetLoop(bool loop);
    void SetMuted(bool muted);
    void SetShowAlpha(bool on);
    // With the throttle off every frame is shown as soon as it is read, with
    // its sound, none dropped and no clock waited for (the bench's rate, and
    // tests that follow every frame).
    void SetThrottle(bool on) { throttle_ = on; }
    // From the next play or step on, frames are read through `source`,
    // which reads Frames() (a test's slow machine); null: Frames() itself.
    void ReadThrough(std::unique_ptr<IFrameSource> source);

    bool Playing() const { return playing_; }
    bool PlayingBackward() const { return playing_ && step_ < 0; }
    bool Loop() const;
    bool SoundLeads() const { return soundLeads_; }
    int64_t CurrentFrame() const { return current_; }
    int64_t FramesShown() const { return shownCount_; }
    int64_t FramesDropped() const { return dropped_; }
    const CItemFrames& Frames() const { return *frames_; }
    CPlayerView* View() const { return view_; }
    QString TimeText() const;
    QString FrameText() const;
    QString StatusText() const;

signals:
    // Every frame shown, in order.
    void frameShown(qint64 frame);
    // Playing ended by itself on the last frame (no loop).
    void playEnded();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildControls();
    void StartRun(int64_t from, int step);
    void EndRun();
    void OnTick();
    // Takes frames from the queue while there is room ahead; false at the end.
    // Starts the run's timeline once the first frames are in hand.
    void FillAhead();
    // Hands the frame's sound to the sink (forwards only).
    void Hear(const PrefetchedFrame& frame);
    // The timeline now; the sound heard sets it while the sound leads.
    int64_t ClockUs();
    int64_t Due(const PrefetchedFrame& frame) const;
    void Show(PrefetchedFrame& frame);
    // Shows the first frame taken ahead and puts its storage back.
    void ShowHead();
    void Recycle(PrefetchedFrame&& frame);
    void UpdateLabels();
    void UpdateStatus();

    std::unique_ptr<CItemFrames> frames_;
    std::unique_ptr<IPlayerSound> sound_;
    std::unique_ptr<IFrameSource> source_;  // reads frames_ when set
    std::unique_ptr<CFramePrefetcher> prefetch_;
    int displayRate_ = 50;
    bool alpha_ = false;

    // The frame on screen (the view paints from its storage), the one being
    // taken, the ones taken ahead (their sound already written) and spares.
    PrefetchedFrame shown_;
    PrefetchedFrame incoming_;
    std::deque<PrefetchedFrame> ahead_;
    std::vector<PrefetchedFrame> spare_;

    bool playing_ = false;
    bool throttle_ = true;
    bool soundLeads_ = false;
    bool muted_ = false;
    int64_t current_ = -1;   // the frame shown
    int64_t queueNext_ = -1; // the frame the queue gives next while paused (-1: unknown)
    int step_ = 1;           // the run's direction
    int64_t shownCount_ = 0;
    int64_t dropped_ = 0;
    int64_t damagedFrame_ = -1;
    // Not running until the run's first frame is taken (tick 0 is due then).
    CPlayClock clock_;
    QTimer tick_;

    CPlayerView* view_ = nullptr;
    CTickSlider* scrub_ = nullptr;
    QPushButton* playButton_ = nullptr;
    QLabel* time_ = nullptr;
    QLabel* frameLabel_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* levels_[2] = {nullptr, nullptr};
    QCheckBox* mute_ = nullptr;
    QCheckBox* loop_ = nullptr;
    QCheckBox* showAlpha_ = nullptr;
};

}  // namespace rk
