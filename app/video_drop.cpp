#include "app/video_drop.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QListWidget>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "app/main_win.h"
#include "base/log.h"
#include "card/card_directory.h"
#include "media/video_ops.h"

namespace rk {

namespace {

// After one add, as after the Add button: a written video is selected and
// shown; otherwise the lists show the card as it is.
void ShowOutcome(CMainWin& win, const AddVideoOutcome& out) {
    if (out.slot < 0) win.RefreshLists();
    win.UpdateCardLine();
    if (out.slot >= 0 && win.Ready() && win.Card().Directory().Video(out.slot).Used()) {
        QListWidget* videos = win.List(IDC_VIDEO_LIST);
        const int row = ListPositionOfVideo(win.Card().Directory(), out.slot);
        videos->setCurrentRow(row);
        if (QListWidgetItem* item = videos->item(row)) videos->scrollToItem(item);
    }
    win.UpdateControls();
}

}  // namespace

CVideoDropQueue::CVideoDropQueue(CMainWin& win) : QObject(&win), win_(win) {
    // Drops on the video list and on the page around it.
    win_.setAcceptDrops(true);
    win_.installEventFilter(this);
    if (QListWidget* videos = win_.List(IDC_VIDEO_LIST)) {
        videos->setAcceptDrops(true);
        videos->viewport()->setAcceptDrops(true);
        videos->installEventFilter(this);
        videos->viewport()->installEventFilter(this);
    }
}

QStringList CVideoDropQueue::LocalFiles(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) return {};
        const QString path = url.toLocalFile();
        // Folders are not videos; a drop of one is not ours to take.
        if (path.isEmpty() || QFileInfo(path).isDir()) return {};
        files << path;
    }
    return files;
}

bool CVideoDropQueue::Accepts(const QMimeData* data) const {
    return win_.CurrentPage() == CMainWin::kPageVideos && win_.Ready() && !win_.Busy() && !running_ &&
           !LocalFiles(data).isEmpty();
}

bool CVideoDropQueue::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (LocalFiles(drag->mimeData()).isEmpty()) break;  // not a drop of files: someone else's
            if (Accepts(drag->mimeData())) {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
            } else {
                drag->ignore();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QStringList files = LocalFiles(drop->mimeData());
            if (files.isEmpty()) break;
            if (!Accepts(drop->mimeData())) {
                drop->ignore();
                return true;
            }
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            // The file manager waits for the drop to end: the adds run later,
            // from the event loop.
            Enqueue(files);
            return true;
        }
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

void CVideoDropQueue::Enqueue(const QStringList& files) {
    for (const QString& f : files) queue_.push_back(f.toStdString());
    LogMessage(2, "CVideoDropQueue: %lld files dropped", static_cast<long long>(files.size()));
    if (!running_) QTimer::singleShot(0, this, &CVideoDropQueue::Run);
}

void CVideoDropQueue::Run() {
    if (running_) return;
    running_ = true;
    while (!queue_.empty()) {
        if (win_.Busy() || !win_.Ready()) break;
        const int slot = LowestFreeVideoSlot(win_.Card().Directory());
        if (slot < 0) break;  // the card holds 99 videos: nothing more fits
        const std::string path = queue_.front();
        queue_.pop_front();
        win_.LastFileName(CMainWin::kFileVideo) = path;
        ImportOptions options;
        options.limitedRange = win_.YuvRangeIndex() == 1;
        options.deinterlace = win_.DeinterlaceIndex() == 0;
        const bool cardErrorBefore = win_.Card().ErrorReported();
        const AddVideoOutcome out = AddVideoFromPath(win_, win_.Card(), slot, path, options);
        ShowOutcome(win_, out);
        // Stop ends the whole queue, whether the stopped file's frames were
        // kept or not; so does an error of the card itself (the rest would
        // only fail the same way). A file that fails or is declined is
        // skipped.
        if (out.result == OpResult::kStopped || out.result == OpResult::kKeptPartial) break;
        if (!cardErrorBefore && win_.Card().ErrorReported()) break;
    }
    if (!queue_.empty()) LogMessage(2, "CVideoDropQueue: %zu dropped files left out", queue_.size());
    queue_.clear();
    running_ = false;
}

}  // namespace rk
