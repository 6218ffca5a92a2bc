#pragma once
// Files dropped from a file manager onto the videos page: each is added as
// the Add button adds one (its own duration question, its own progress), one
// after another in the order they were dropped. Stop ends the queue; a file
// that fails or is declined is skipped.
//
// Only drops that carry local files (text/uri-list) are taken; anything else
// (the lists' own drags between them) passes on untouched.
#include <QObject>
#include <QStringList>
#include <deque>
#include <string>

class QMimeData;

namespace rk {

class CMainWin;

class CVideoDropQueue : public QObject {
    Q_OBJECT
public:
    explicit CVideoDropQueue(CMainWin& win);
    // The local files a drop carries, in order; empty when it carries
    // anything else too (or nothing).
    static QStringList LocalFiles(const QMimeData* data);
    // Queues files as a drop does and starts the queue from the event loop.
    void Enqueue(const QStringList& files);
    // Files waiting (the one being added is no longer among them).
    size_t Waiting() const { return queue_.size(); }
    bool Running() const { return running_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool Accepts(const QMimeData* data) const;
    void Run();
    CMainWin& win_;
    std::deque<std::string> queue_;
    bool running_ = false;
};

}  // namespace rk
