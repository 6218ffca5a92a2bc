#pragma once
// CPlayerWindow: plays one item of the card as the device will show it —
// its frames from the card's own decoder (CItemFrames, read ahead on a
// thread by CFramePrefetcher) and its sound. The controls operators know:
// Space plays and pauses (K pauses, L plays), Left/Right step a frame,
// Home/End go to the first and last frame; a scrub bar with the time code
// and the frame number, a level meter, mute and loop, and for items with
// transparency the checkerboard and "show alpha".
//
// While playing the sound leads (player_timing.h): pictures are shown when
// the sound reaches them and late ones are dropped evenly and counted. With
// no sound device the system clock leads, silently, and the window says so.
// A playlist that repeats goes back to its first clip after the last (the
// loop starts ticked); one that stops holds its last frame.
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <memory>
#include <vector>

#include "app/player_timing.h"
#include "media/frame_prefetch.h"

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

    bool Playing() const { return playing_; }
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
    void StartRun(int64_t from);
    void EndRun();
    void OnTick();
    // Takes frames from the queue while there is room ahead; false at the end.
    void FillAhead();
    int64_t ClockUs() const;
    // Jumps the reader ahead when the next frame is far behind the system
    // clock (player_timing.h); true when it did.
    bool CatchUp(int64_t clock);
    void Show(PrefetchedFrame& frame);
    // Shows the first frame taken ahead and puts its storage back.
    void ShowHead();
    void Recycle(PrefetchedFrame&& frame);
    void UpdateLabels();
    void UpdateStatus();

    std::unique_ptr<CItemFrames> frames_;
    std::unique_ptr<IPlayerSound> sound_;
    std::unique_ptr<CFramePrefetcher> prefetch_;
    int64_t frameUs_ = 20000;
    int displayRate_ = 50;
    bool alpha_ = false;

    // The frame on screen (the view paints from its storage), the one being
    // taken, the ones taken ahead (their sound already written) and spares.
    PrefetchedFrame shown_;
    PrefetchedFrame incoming_;
    struct Ahead {
        PrefetchedFrame frame;
        int64_t tick = 0;
    };
    std::deque<Ahead> ahead_;
    std::vector<PrefetchedFrame> spare_;

    bool playing_ = false;
    bool throttle_ = true;
    bool soundLeads_ = false;
    bool muted_ = false;
    int64_t current_ = -1;   // the frame shown
    int64_t queueNext_ = -1; // the frame the queue gives next while paused (-1: unknown)
    int64_t nextTick_ = 0;
    int64_t shownCount_ = 0;
    int64_t dropped_ = 0;
    int64_t damagedFrame_ = -1;
    QElapsedTimer systemClock_;
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
