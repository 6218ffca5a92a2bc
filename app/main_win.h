#pragma once
// CMainWin: the program's one main window. It shows the selected card, the
// four pages of its contents and the buttons that start every operation,
// owns the open card, and is the window's side of the operator seam: every
// operation started here asks its questions, chooses its files and reports
// its progress through this object (IOperator).
#include <QElapsedTimer>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "app/control_ids.h"
#include "app/control_states.h"
#include "app/cool_dialog.h"
#include "app/drag_rules.h"
#include "app/thumbnail_list.h"
#include "base/op_result.h"
#include "card/card_item.h"
#include "card/sd_card.h"
#include "ui/operator.h"

class QComboBox;
class QListWidget;
class QMenu;
class QProgressBar;
class QSocketNotifier;
class QFileSystemWatcher;

namespace rk {

class CListDrag;
class CPlayerWindow;
struct PlayTarget;
class CMediaMonitor;
class CVideoDropQueue;
class CWindowMenus;

class CMainWin : public CCoolDialog, public IOperator {
    Q_OBJECT
public:
    // The pages of the window.
    enum Page : int { kPageVideos = 0, kPageStills = 1, kPageEffects = 2, kPageLogos = 3 };
    // The four remembered file names ("General" settings).
    enum LastFile : int { kFileVideo = 0, kFileStill = 1, kFileStinger = 2, kFileLogo = 3 };

    explicit CMainWin(QWidget* parent = nullptr);
    ~CMainWin() override;

    // ---- IOperator ----
    using IOperator::BeginProgress;
    using IOperator::ShowMessage;
    MsgResult ShowMessage(const Message& message) override;
    bool ChooseOpenFile(const FileChoice& choice, std::string& path) override;
    bool ChooseSaveFile(const FileChoice& choice, std::string& path) override;
    // The effect and logo questions: the logo speed in CDlgAnimLogo
    // (app/main_win_logos.cpp), the effect type in CDlgEffectType and the
    // keys in CDlgStingerEditor (app/main_win_effects.cpp).
    bool ChooseOption(const OptionChoice& choice, int& chosen) override;
    bool ChooseEffectType(EffectTypeChoice& choice) override;
    bool EditKeyframes(const KeyframeEdit& edit) override;
    void BeginProgress(const ProgressScale& scale) override;
    void SetProgress(int64_t position, bool error) override;
    bool PumpMessages() override;
    // A tool starting up: the window's Stop only counts once progress (and
    // with it the Stop button) is shown; a Stop left from an earlier
    // operation never ends the next one's start.
    bool StopRequestedWhileWaiting() override;
    void EndProgress() override;
    void Refresh(unsigned what) override;

    // ---- Cards ----
    // Rescans the drives; keepSelection is false only for the first scan.
    void ScanMedia(bool keepSelection);
    // The media list's selection handler: opens the chosen card and reads its
    // directory, or closes the card when the list shows "No media".
    void OnMediaSelChange();
    // A media notification: rescans as a refresh unless an operation runs.
    void OnMediaChanged(long param, long event);
    // The Format button.
    void Format();
    // A free run of n Clusters, compacting the card after asking when no gap
    // is large enough; -1 when declined, stopped or failed.
    int32_t AllocateClusters(int32_t n);

    CSDCard& Card() { return card_; }
    bool Ready() const { return card_.IsOpen() && card_.IsDirectoryValid(); }
    bool NoMedia() const { return noMedia_; }
    // How many scans have run (tests watch the automatic rescans with it).
    int ScanCount() const { return scanCount_; }
    bool AccessDenied() const { return accessDenied_; }

    // ---- Window state ----
    int CurrentPage() const { return page_; }
    void SwitchPage(int page);  // nothing when `page` is already current
    bool Busy() const { return busy_; }
    bool AbortFlag() const { return abort_; }
    void SetAbortFlag(bool on) { abort_ = on; }
    int CurrentPlaylist() const { return currentPlaylist_; }
    void SetCurrentPlaylist(int p);
    int YuvRangeIndex() const { return yuvRange_; }
    int DeinterlaceIndex() const { return deinterlace_; }
    std::string& LastFileName(LastFile which) { return lastFiles_[which]; }
    // The folder of the executable: the external tools are looked up there.
    const std::string& ProgramDir() const { return programDir_; }

    // ---- Lists ----
    QListWidget* List(int id) const;
    CThumbnailList& Thumbnails() { return thumbnails_; }
    // Replaces thumbnail image `index` and every list item that shows it.
    void SetThumbnail(int index, const QImage& picture);
    // The video entry of the selected row of the video list, or -1.
    int SelectedVideoSlot() const;
    // The selected row of a list, or -1.
    int SelectedRow(int listId) const;
    // The selected row of a list of `kind` (stills, effects, logos: row =
    // entry) when it holds a used entry and nothing else is running, else -1.
    int SelectedUsedEntry(int listId, CardItem kind) const;
    // Selects row `row` of a list, brings it into view and gives it the focus.
    void SelectListRow(int listId, int row);
    // After an add: the lists are refreshed when the operation wrote nothing
    // (a written entry has had them refreshed by the operation itself, and
    // rebuilding them would read every thumbnail again), the card line is
    // updated and the new entry, at `row` of list `listId`, is selected.
    void ShowAddedEntry(const OpOutcome& out, CardItem kind, int listId, int row);
    // Read and Delete of the selected entry of a list of `kind`, and the
    // swap of two entries by drag: the window's side around the operation.
    void ReadSelectedEntry(int listId, CardItem kind, const std::function<void(int)>& read);
    void DeleteSelectedEntry(int listId, CardItem kind, const std::function<OpOutcome(int)>& remove);
    void SwapEntriesAt(int a, int b, CardItem kind, const std::function<bool(int, int)>& swap);
    // Fills all six lists from the open card's directory.
    void RefreshLists();
    // The clips list and the playlist summary line for the current playlist.
    void RefreshClips();
    // Row e of the effect list: "%d - %s" with e + 1 and the duration when
    // the slot is used, else "%d".
    QString EffectRowText(int slot) const;

    // ---- Controls ----
    // Applies the visibility and enabled rules to every control.
    void UpdateControls();
    // The card line and the video hint.
    void UpdateCardLine();
    // What an empty list says to do (no card, a card not formatted, an empty
    // playlist); empty when it says nothing.
    QString EmptyStateText(int listId) const;
    // "Effects exist only on HD cards; ...", for the effects page of any other card.
    std::string EffectsHdOnlyText() const;
    // Beside the percentage: "120 of 500 frames, 24.1 frames/s, 0:16 left"
    // for `position` done after `seconds`.
    QString ProgressDetailText(int64_t position, double seconds) const;
    // What the rules are decided from, as the window stands now.
    WindowFacts Facts() const;

    // ---- Page operations (each runs inside the window through the seam) ----
    void AddVideo();
    void DeleteVideo();
    void ReadVideo();
    void AddStill();
    void DeleteStill();
    void ReadStill();
    void AddStinger();
    void DeleteStinger();
    void ReadStinger();
    void AddLogo();
    void DeleteLogo();
    void ReadLogo();
    void ClearPlaylist();
    void RemoveClip();
    void SetPlaylistLoop(bool repeat);

    // ---- Playlist edits and drops (main_win_playlists.cpp, main_win_dnd.cpp) ----
    // Adds video entry `videoSlot` to playlist p at clip position `at` (-1:
    // the end) and makes p current.
    void AddClipAt(int p, int videoSlot, int at);
    void SwapPlaylistsAt(int a, int b);
    void SwapClipsAt(int i, int j);  // within the current playlist
    void SwapStillsAt(int a, int b);
    void SwapEffectsAt(int a, int b);
    void SwapLogosAt(int a, int b);
    // What an allowed drop does; the items are list rows.
    void PerformDrop(DropAction action, int sourceItem, int targetItem);
    // What the drag rules read for a drag of `item` of drag list `list`.
    DragFacts DragFactsFor(int list, int item) const;
    CListDrag& ListDrag() { return *drag_; }
    // ---- Card-wide commands (main_win_cards.cpp) ----
    // Check card: reads the whole card with progress and Stop, then lists
    // what it found.
    void CheckCard();
    // When the selected card reads as not formatted and the journal holds a
    // directory of it whose items are all in place: asks, and puts it back.
    void OfferRecovery();
    void ShowAbout();
    CWindowMenus& Menus() { return *menus_; }
    // Files given at start-up or by a later start: added to the selected
    // card as dropped files are, once the first scan has chosen the card and
    // nothing else runs.
    void OpenFiles(const QStringList& files);
    // A later start: the window comes to the front and takes its files.
    void CalledAgain(const QStringList& files);
    CVideoDropQueue& DropQueue() { return *drops_; }

    // ---- The player (main_win_preview.cpp) ----
    // Plays the selected item of list `listId` (of the playlist list with
    // `titleCard`: the current playlist's title card) in the player window.
    void PreviewItem(int listId, bool titleCard = false);
    // Whether PreviewItem has something to play now.
    bool CanPreview(int listId, bool titleCard = false) const;
    // Stops and closes the player: before anything writes or closes the card.
    void StopPreview();
    CPlayerWindow* Player() const;
    // The list menus' Preview entries (and the playlists' title card).
    void AddPreviewEntries(QMenu& menu, int listId);

    // The smallest client size the window may be given.
    QSize MinimumClientSize() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void StyleControl(int id, QWidget* control) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void InitControls();
    void ConnectControls();
    void RestorePlacement();
    void SavePlacement();
    void OnFirstTick();
    void OnRefresh();
    void StartMediaWatch();
    void StopMediaWatch();
    void OnMonitorReadable();
    void OnCardFolderChanged();
    void OnWatchSettled();
    void OnListKey(int listId);
    void SetBusy(bool busy);
    void FillList(int id);
    void UpdateEmptyStates();
    void LoadThumbnails();
    QComboBox* MediaList() const;
    void SetUpDrag();
    void SetUpPreview();
    bool PreviewTarget(int listId, bool titleCard, PlayTarget& target, QString& caption) const;
    // A quick edit (a delete, a playlist edit, a swap): busy for the handlers
    // without the busy look; a failed write (or a rescan asked for meanwhile)
    // rescans the media at the end.
    void BeginEdit(bool keepThumbnails);
    void EndEdit(bool writeFailed);

    CSDCard card_;
    int page_ = kPageVideos;
    bool busy_ = false;
    bool abort_ = false;
    bool inProgress_ = false;  // between BeginProgress and EndProgress
    int64_t progressTotal_ = 0;
    ProgressScale progressScale_;
    QElapsedTimer progressClock_;  // since BeginProgress: the rate and the time left
    int64_t lastDetailMs_ = -1;
    int lastPercent_ = -1;
    QString idleTitle_;  // the title without the progress, while busy
    int currentPlaylist_ = -1;
    bool accessDenied_ = false;
    bool noMedia_ = true;
    bool filling_ = false;  // a list is being rebuilt: its signals mean nothing
    bool scanning_ = false;
    bool pendingRescan_ = false;  // asked for while busy; runs at EndProgress
    bool saved_ = false;
    bool editing_ = false;         // a quick edit runs (see BeginEdit)
    bool waitCursor_ = false;      // the quick edit's wait cursor is set
    bool keepThumbnails_ = false;  // its list refreshes need not read the thumbnails again
    int scanCount_ = 0;
    // Our own opening and closing of cards makes the watches fire too; these
    // tell such echoes from a real change of what is attached.
    QElapsedTimer ownAccess_;
    std::string attached_;
    int yuvRange_ = 0;
    int deinterlace_ = 0;
    std::string lastFiles_[4];
    std::string programDir_;
    CThumbnailList thumbnails_;
    QTimer firstTick_;
    QTimer rescanDelay_;
    std::unique_ptr<CMediaMonitor> monitor_;
    QSocketNotifier* monitorNotifier_ = nullptr;
    QFileSystemWatcher* folderWatcher_ = nullptr;
    CListDrag* drag_ = nullptr;  // a child of the window
    // Context menus and dropped files (children of the window).
    CWindowMenus* menus_ = nullptr;
    CVideoDropQueue* drops_ = nullptr;
    std::set<std::string> declinedRecovery_;  // cards whose recovery was declined
    QPointer<CPlayerWindow> player_;  // the open player, a window of its own
    QStringList openFiles_;  // given before the window could add them
};

}  // namespace rk
