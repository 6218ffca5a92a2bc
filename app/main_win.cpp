#include "app/main_win.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QScreen>
#include <climits>

#include "app/about_box.h"
#include "app/cool_msgbox.h"
#include "app/empty_text.h"
#include "app/file_filter.h"
#include "app/list_drag.h"
#include "app/main_win_menus.h"
#include "app/selected_caption.h"
#include "app/video_drop.h"
#include "app/settings.h"
#include "app/skin.h"
#include "base/log.h"
#include "base/texts.h"
#include "card/drive_scan.h"

namespace rk {

namespace {

constexpr int kListIds[] = {IDC_VIDEO_LIST, IDC_PLAYLIST_LIST, IDC_CLIP_LIST,
                            IDC_STILL_LIST, IDC_EFFECT_LIST,   IDC_LOGO_LIST};
// The remembered file names, in LastFile order.
constexpr const StringSetting* kLastFileSettings[] = {&kSettingVideoFile, &kSettingStillFile, &kSettingStingerFile,
                                                      &kSettingLogoFile};

// Icon spacing of each list (the grid one item takes).
QSize SpacingOf(int id) {
    if (id == IDC_VIDEO_LIST) return QSize(152, 116);
    if (id == IDC_CLIP_LIST) return QSize(152, 104);
    return QSize(136, 104);
}

// A progress bar counts in int; larger totals are scaled down for the bar
// alone, the percentage is computed from the true numbers.
int BarValue(int64_t value, int64_t total) {
    if (total <= INT_MAX) return static_cast<int>(value);
    return static_cast<int>(value / (total / INT_MAX + 1));
}

}  // namespace

CMainWin::CMainWin(QWidget* parent) : CCoolDialog(MainWindowTemplate(), parent), card_(this) {
    LogMessage(1, "CMainWin::OnInitDialog() build: [%s]", __DATE__);
    programDir_ = QCoreApplication::applicationDirPath().toStdString();
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(skin::AppIcon());
    RestyleControls();
    Translate();
    InitControls();
    ConnectControls();
    SetUpDrag();
    SetUpPreview();
    menus_ = new CWindowMenus(*this);
    drops_ = new CVideoDropQueue(*this);
    setMinimumSize(MinimumClientSize());

    RestorePlacement();
    for (int i = 0; i < 4; ++i) lastFiles_[i] = ReadSetting(*kLastFileSettings[i]);

    // Card readers and the card folder: a rescan when anything changes.
    rescanDelay_.setSingleShot(true);
    rescanDelay_.setInterval(250);
    connect(&rescanDelay_, &QTimer::timeout, this, &CMainWin::OnWatchSettled);
    StartMediaWatch();

    // The first scan runs from the event loop, once the window is up.
    firstTick_.setSingleShot(true);
    firstTick_.setInterval(1);
    connect(&firstTick_, &QTimer::timeout, this, &CMainWin::OnFirstTick);
    firstTick_.start();

    UpdateCardLine();
    UpdateControls();
}

CMainWin::~CMainWin() {
    if (!saved_) SavePlacement();
    LogMessage(1, "CMainWin::OnDestroy()");
    StopMediaWatch();
    StopPreview();
    card_.Close();
}

void CMainWin::InitControls() {
    // The media list carries each card's drive number as item data.
    auto* media = MediaList();
    media->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

    for (int id : kListIds) {
        QListWidget* l = List(id);
        l->setIconSize(QSize(CThumbnailList::kWidth, CThumbnailList::kHeight));
        l->setGridSize(SpacingOf(id));
        l->setSpacing(0);
        l->setTextElideMode(Qt::ElideRight);
        l->installEventFilter(this);
        new CCaptionPanel(l);  // the selected item's caption, whole
        if (id != IDC_PLAYLIST_LIST) new CEmptyText(l);
    }

    auto* yuv = ControlAs<QComboBox>(IDC_YUV_RANGE);
    yuv->addItem(QString::fromStdString(LoadText(IDS_YUV_FULL)));
    yuv->addItem(QString::fromStdString(LoadText(IDS_YUV_LIMITED)));
    yuvRange_ = ReadYuvRangeIndex();
    yuv->setCurrentIndex(yuvRange_);

    auto* deint = ControlAs<QComboBox>(IDC_DEINTERLACE);
    deint->addItem(QString::fromStdString(LoadText(IDS_DEINTERLACE_ON)));
    deint->addItem(QString::fromStdString(LoadText(IDS_DEINTERLACE_OFF)));
    deinterlace_ = ReadDeinterlaceIndex();
    deint->setCurrentIndex(deinterlace_);
    FitDropList(IDC_YUV_RANGE);
    FitDropList(IDC_DEINTERLACE);

    auto* bar = ControlAs<QProgressBar>(IDC_PROGRESS);
    bar->setRange(0, 1);
    bar->setValue(0);
    for (int id : {IDC_PROGRESS, IDC_PROGRESS_TEXT, IDC_STOP}) ShowControl(id, false);
}

void CMainWin::StyleControl(int id, QWidget* control) {
    CCoolDialog::StyleControl(id, control);
    auto* l = qobject_cast<QLabel*>(control);
    if (!l) return;
    QColor c;
    switch (id) {
        case IDC_VIDEO_HINT: case IDC_CLIP_HINT: case IDC_PLAYLIST_HINT:
        case IDC_STILL_HINT: case IDC_EFFECT_HINT: case IDC_LOGO_HINT:
            c = skin::kHint;
            break;
        case IDC_PAGE_VIDEOS: case IDC_PAGE_STILLS: case IDC_PAGE_EFFECTS: case IDC_PAGE_LOGOS:
        case IDC_STOP_ON_LAST: case IDC_REPEAT_PLAYLIST:
            c = skin::kPageLabel;
            break;
        default:
            return;
    }
    // Under the dialog's style sheet a palette colour would be overridden.
    l->setStyleSheet(QStringLiteral("QLabel { color: %1; background: transparent; }"
                                    " QLabel:disabled { color: #5a5a5a; }")
                         .arg(c.name()));
    if (id == IDC_CLIP_HINT) l->setWordWrap(true);
}

void CMainWin::ConnectControls() {
    auto click = [this](int id, void (CMainWin::*handler)()) {
        connect(ControlAs<QPushButton>(id), &QPushButton::clicked, this, [this, handler] {
            // A click queued before the window became busy must not start a
            // second operation inside the first.
            if (!busy_) (this->*handler)();
        });
    };
    click(IDC_REFRESH, &CMainWin::OnRefresh);
    click(IDC_FORMAT, &CMainWin::Format);
    click(IDC_CHECK_CARD, &CMainWin::CheckCard);
    click(IDC_ABOUT, &CMainWin::ShowAbout);
    click(IDC_VIDEO_ADD, &CMainWin::AddVideo);
    click(IDC_VIDEO_DELETE, &CMainWin::DeleteVideo);
    click(IDC_VIDEO_READ, &CMainWin::ReadVideo);
    click(IDC_STILL_ADD, &CMainWin::AddStill);
    click(IDC_STILL_DELETE, &CMainWin::DeleteStill);
    // F5 refreshes the card list, as Refresh does (not while busy).
    auto* refreshKey = new QShortcut(QKeySequence(Qt::Key_F5), this);
    refreshKey->setContext(Qt::WindowShortcut);
    connect(refreshKey, &QShortcut::activated, this, [this] {
        if (!busy_) OnRefresh();
    });
    click(IDC_STILL_READ, &CMainWin::ReadStill);
    click(IDC_EFFECT_ADD, &CMainWin::AddStinger);
    click(IDC_EFFECT_DELETE, &CMainWin::DeleteStinger);
    click(IDC_EFFECT_READ, &CMainWin::ReadStinger);
    click(IDC_LOGO_ADD, &CMainWin::AddLogo);
    click(IDC_LOGO_DELETE, &CMainWin::DeleteLogo);
    click(IDC_LOGO_READ, &CMainWin::ReadLogo);
    click(IDC_CLEAR_PLAYLIST, &CMainWin::ClearPlaylist);
    click(IDC_REMOVE_CLIP, &CMainWin::RemoveClip);
    connect(ControlAs<QPushButton>(IDC_STOP), &QPushButton::clicked, this, [this] { abort_ = true; });

    const int pageLabels[] = {IDC_PAGE_VIDEOS, IDC_PAGE_STILLS, IDC_PAGE_EFFECTS, IDC_PAGE_LOGOS};
    for (int page = 0; page < 4; ++page) {
        connect(ControlAs<CClickLabel>(pageLabels[page]), &CClickLabel::clicked, this, [this, page] {
            if (!busy_) SwitchPage(page);
        });
        // Ctrl+1 ... Ctrl+4 reach the page labels from the keyboard.
        auto* pageKey = new QShortcut(QKeySequence(Qt::CTRL | (Qt::Key_1 + page)), this);
        pageKey->setContext(Qt::WindowShortcut);
        connect(pageKey, &QShortcut::activated, this, [this, page] {
            if (!busy_) SwitchPage(page);
        });
        ControlAs<CClickLabel>(pageLabels[page])->setToolTip(QStringLiteral("Ctrl+%1").arg(page + 1));
    }
    connect(ControlAs<CClickLabel>(IDC_STOP_ON_LAST), &CClickLabel::clicked, this, [this] {
        if (!busy_) SetPlaylistLoop(false);
    });
    connect(ControlAs<CClickLabel>(IDC_REPEAT_PLAYLIST), &CClickLabel::clicked, this, [this] {
        if (!busy_) SetPlaylistLoop(true);
    });

    connect(MediaList(), &QComboBox::currentIndexChanged, this, [this] {
        if (!filling_ && !busy_) OnMediaSelChange();
    });
    connect(ControlAs<QComboBox>(IDC_YUV_RANGE), &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0) return;
        yuvRange_ = index;
        WriteSetting(kSettingYuvRange, index);
    });
    connect(ControlAs<QComboBox>(IDC_DEINTERLACE), &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0) return;
        deinterlace_ = index;
        WriteSetting(kSettingDeinterlace, index);
    });

    connect(List(IDC_PLAYLIST_LIST), &QListWidget::currentRowChanged, this, [this](int row) {
        if (filling_ || row < 0 || row == currentPlaylist_) return;
        currentPlaylist_ = row;
        RefreshClips();
    });
    // A selection made without moving the current row (a mouse release over
    // another item) makes that playlist current too: what the list shows
    // selected is what every playlist control acts on.
    connect(List(IDC_PLAYLIST_LIST), &QListWidget::itemSelectionChanged, this, [this] {
        const int row = SelectedRow(IDC_PLAYLIST_LIST);
        if (filling_ || busy_ || row < 0 || row == currentPlaylist_) return;
        SetCurrentPlaylist(row);
        UpdateControls();
    });
    // The rules read the selection, which a click changes after the current
    // row: the controls follow the selection itself.
    for (int id : {IDC_VIDEO_LIST, IDC_CLIP_LIST, IDC_STILL_LIST, IDC_EFFECT_LIST, IDC_LOGO_LIST}) {
        connect(List(id), &QListWidget::currentRowChanged, this, [this] {
            if (!filling_) UpdateControls();
        });
        connect(List(id), &QListWidget::itemSelectionChanged, this, [this] {
            if (!filling_) UpdateControls();
        });
    }
}

QComboBox* CMainWin::MediaList() const { return ControlAs<QComboBox>(IDC_MEDIA_LIST); }

QListWidget* CMainWin::List(int id) const { return ControlAs<QListWidget>(id); }

QSize CMainWin::MinimumClientSize() const {
    QSize min(130 * Units().BaseX(), 438 * Units().BaseY() / 8);
    // On a screen smaller than that the window must still fit, or its lower
    // controls (Stop among them) could never be reached.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QSize room = screen->availableGeometry().size() - QSize(16, 48);
        if (room.isValid()) min = min.boundedTo(room);
    }
    return min;
}

// ---- Placement ----

void CMainWin::RestorePlacement() {
    const int left = ReadSetting(kSettingLayoutLeft);
    const int top = ReadSetting(kSettingLayoutTop);
    const int width = ReadSetting(kSettingLayoutWidth);
    const int height = ReadSetting(kSettingLayoutHeight);
    if (left != -1 && top != -1 && width > 0 && height > 0) {
        QRect r(left, top, width, height);
        // A rectangle saved on a screen that is gone would put the window
        // out of reach: it then opens at the same size on the primary screen.
        bool visible = false;
        for (const QScreen* screen : QGuiApplication::screens())
            if (screen->availableGeometry().intersects(r)) visible = true;
        if (!visible && QGuiApplication::primaryScreen())
            r.moveTopLeft(QGuiApplication::primaryScreen()->availableGeometry().topLeft());
        setGeometry(r);
    } else {
        resize(TemplateSize().expandedTo(MinimumClientSize()));
    }
    if (ReadSetting(kSettingLayoutMaximized) != 0) setWindowState(windowState() | Qt::WindowMaximized);
}

void CMainWin::SavePlacement() {
    saved_ = true;
    const QRect r = (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) ? normalGeometry() : geometry();
    if (r.isValid()) {
        WriteSetting(kSettingLayoutLeft, r.left());
        WriteSetting(kSettingLayoutTop, r.top());
        WriteSetting(kSettingLayoutWidth, r.width());
        WriteSetting(kSettingLayoutHeight, r.height());
    }
    WriteSetting(kSettingLayoutMaximized, (windowState() & Qt::WindowMaximized) ? 1 : 0);
    for (int i = 0; i < 4; ++i) WriteSetting(*kLastFileSettings[i], lastFiles_[i]);
    if (card_.IsOpen()) WriteSetting(kSettingLastCard, card_.Path());
}

void CMainWin::closeEvent(QCloseEvent* event) {
    if (busy_) {
        event->ignore();
        return;
    }
    SavePlacement();
    event->accept();
    done(0);
}

// ---- Keys in the lists ----

bool CMainWin::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete) {
            for (int id : kListIds) {
                if (watched == List(id)) {
                    if (!busy_) OnListKey(id);
                    return true;
                }
            }
        }
    }
    return CCoolDialog::eventFilter(watched, event);
}

void CMainWin::OnListKey(int listId) {
    switch (listId) {
        case IDC_VIDEO_LIST: DeleteVideo(); break;
        case IDC_PLAYLIST_LIST: ClearPlaylist(); break;
        case IDC_CLIP_LIST: RemoveClip(); break;
        case IDC_STILL_LIST: DeleteStill(); break;
        case IDC_EFFECT_LIST:
            if (Facts().selectedEffectUsed) DeleteStinger();
            break;
        case IDC_LOGO_LIST:
            if (Facts().selectedLogoUsed) DeleteLogo();
            break;
        default: break;
    }
}

// ---- Pages ----

void CMainWin::SwitchPage(int page) {
    if (page < 0 || page > 3 || page == page_) return;
    page_ = page;
    UpdateControls();
}

// ---- The operator seam ----

MsgResult CMainWin::ShowMessage(const Message& message) {
    // The window shows the system's text; the detail goes to the log.
    if (!message.detail.empty()) LogMessage(2, "%s (%s)", message.text.c_str(), message.detail.c_str());
    // A message needs the ordinary pointer, even in the middle of a scan.
    int waits = 0;
    while (QApplication::overrideCursor()) {
        QApplication::restoreOverrideCursor();
        ++waits;
    }
    const MsgResult answer = ShowMessageBox(message.kind, message.icon, QString::fromStdString(message.text), this);
    while (waits-- > 0) QApplication::setOverrideCursor(Qt::WaitCursor);
    return answer;
}

namespace {
bool RunFileDialog(QWidget* owner, const FileChoice& choice, std::string& path, bool save) {
    QFileDialog dlg(owner);
    dlg.setObjectName(save ? QStringLiteral("saveFileDialog") : QStringLiteral("openFileDialog"));
    dlg.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dlg.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dlg.setNameFilter(QtFileFilter(choice.filter));
    if (!choice.title.empty()) dlg.setWindowTitle(QString::fromStdString(choice.title));
    if (save && !choice.defaultExtension.empty()) dlg.setDefaultSuffix(QString::fromStdString(choice.defaultExtension));
    if (!choice.initialName.empty()) {
        const QFileInfo fi(QString::fromStdString(choice.initialName));
        if (fi.isAbsolute() || fi.path() != QLatin1String(".")) dlg.setDirectory(fi.absolutePath());
        dlg.selectFile(fi.fileName());
    }
    if (dlg.exec() != QDialog::Accepted) return false;
    const QStringList files = dlg.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty()) return false;
    path = files.first().toStdString();
    return true;
}
}  // namespace

bool CMainWin::ChooseOpenFile(const FileChoice& choice, std::string& path) {
    return RunFileDialog(this, choice, path, false);
}

bool CMainWin::ChooseSaveFile(const FileChoice& choice, std::string& path) {
    return RunFileDialog(this, choice, path, true);
}

namespace {

// The name of a progress unit in the person's language.
std::string UnitText(ProgressUnit unit) {
    switch (unit) {
        case ProgressUnit::kFrames: return LoadText(IDS_UNIT_FRAMES);
        case ProgressUnit::kClusters: return LoadText(IDS_UNIT_CLUSTERS);
        case ProgressUnit::kBytes: return LoadText(IDS_UNIT_BYTES);
        case ProgressUnit::kItems: return LoadText(IDS_UNIT_ITEMS);
        case ProgressUnit::kSteps: break;
    }
    return LoadText(IDS_UNIT_STEPS);
}

}  // namespace

QString CMainWin::ProgressDetailText(int64_t position, double seconds) const {
    const std::string unit = UnitText(progressScale_.unit);
    const ProgressPace pace = ProgressPaceOf(position, progressTotal_, seconds, unit,
                                             static_cast<double>(progressScale_.bytesPerUnit), LoadText(IDS_UNIT_MB));
    return QString::fromStdString(FormatText(IDS_PROGRESS_DETAIL, std::to_string(position).c_str(),
                                             std::to_string(progressTotal_).c_str(), unit.c_str(),
                                             pace.rate.c_str(), pace.left.c_str()));
}

void CMainWin::BeginProgress(const ProgressScale& scale) {
    const int64_t total = scale.total;
    progressTotal_ = total < 0 ? 0 : total;
    progressScale_ = scale;
    progressClock_.start();
    lastPercent_ = -1;
    // Stop belongs to the operation that shows the Stop button.
    abort_ = false;
    inProgress_ = true;
    SetBusy(true);
    // An edit that shows progress shows Stop, which wants the normal pointer.
    if (waitCursor_) {
        QApplication::restoreOverrideCursor();
        waitCursor_ = false;
    }
    auto* bar = ControlAs<QProgressBar>(IDC_PROGRESS);
    bar->setStyleSheet(QString());
    // The frames done, the rate and the time left show on the bar itself.
    bar->setTextVisible(true);
    bar->setRange(0, BarValue(progressTotal_, progressTotal_));
    bar->setValue(0);
    SetProgress(0, false);
    for (int id : {IDC_PROGRESS, IDC_PROGRESS_TEXT, IDC_STOP}) ShowControl(id, true);
    UpdateControls();
}

void CMainWin::SetProgress(int64_t position, bool error) {
    // Outside a progress there is no bar (and no title) to set.
    if (!inProgress_ || progressTotal_ == 0) return;
    auto* bar = ControlAs<QProgressBar>(IDC_PROGRESS);
    bar->setValue(BarValue(std::clamp<int64_t>(position, 0, progressTotal_), progressTotal_));
    if (error) bar->setStyleSheet(QStringLiteral("QProgressBar::chunk { background: rgb(200,40,40); }"));
    const int percent = static_cast<int>(position * 100 / progressTotal_);
    const int64_t sinceStart = progressClock_.elapsed();
    if (percent != lastPercent_ || sinceStart - lastDetailMs_ >= 1000) {
        lastDetailMs_ = sinceStart;
        const int64_t done = std::clamp<int64_t>(position, 0, progressTotal_);
        bar->setFormat(ProgressDetailText(done, static_cast<double>(sinceStart) / 1000.0));
    }
    if (percent != lastPercent_) {
        lastPercent_ = percent;
        SetControlText(IDC_PROGRESS_TEXT, QString::fromStdString(FormatText(IDS_PROGRESS_PERCENT, percent)));
        // The progress shows in the title too, for a window in the background
        // or minimised.
        if (idleTitle_.isEmpty()) idleTitle_ = windowTitle();
        setWindowTitle(QStringLiteral("%1% - %2").arg(std::clamp(percent, 0, 100)).arg(idleTitle_));
    }
}

bool CMainWin::PumpMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return abort_;
}

bool CMainWin::StopRequestedWhileWaiting() {
    const bool stop = PumpMessages();
    return stop && inProgress_;
}

void CMainWin::EndProgress() {
    inProgress_ = false;
    // The Stop ends with the operation that showed it.
    abort_ = false;
    ownAccess_.restart();
    for (int id : {IDC_PROGRESS, IDC_PROGRESS_TEXT, IDC_STOP}) ShowControl(id, false);
    if (!idleTitle_.isEmpty()) setWindowTitle(idleTitle_);
    idleTitle_.clear();
    // An edit that showed progress (title cards) is not over yet: EndEdit
    // ends it, and runs a rescan asked for meanwhile.
    SetBusy(editing_);
    UpdateControls();
    if (pendingRescan_ && !editing_) {
        pendingRescan_ = false;
        QTimer::singleShot(0, this, [this] {
            if (!busy_) ScanMedia(true);
        });
    }
}

void CMainWin::Refresh(unsigned what) {
    if (what & kRescanMedia) {
        if (busy_) {
            pendingRescan_ = true;
        } else {
            ScanMedia(true);
            return;
        }
    }
    if (what & kRefreshLists) RefreshLists();
    if (what & (kRefreshCardLine | kRefreshLists)) {
        UpdateCardLine();
        UpdateControls();
    }
}

void CMainWin::SetBusy(bool busy) {
    // Whatever makes the window busy may write or close the card the player
    // reads: the player goes first.
    if (busy) StopPreview();
    busy_ = busy;
    // Whatever made the window busy may change the lists under a drag.
    if (busy && drag_) drag_->Cancel();
    if (busy) SetControlText(IDC_MEDIA_BUSY, MediaList()->currentText());
}

// ---- The frame of a quick edit ----

void CMainWin::BeginEdit(bool keepThumbnails) {
    // Handlers check busy_, so nothing new starts while the edit pumps the
    // event loop; the controls keep their look (no flicker for an edit that
    // takes a fraction of a second).
    editing_ = true;
    keepThumbnails_ = keepThumbnails;
    // No Stop from an earlier operation reaches this one.
    abort_ = false;
    SetBusy(true);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    waitCursor_ = true;
}

void CMainWin::EndEdit(bool writeFailed) {
    if (waitCursor_) QApplication::restoreOverrideCursor();
    waitCursor_ = false;
    keepThumbnails_ = false;
    editing_ = false;
    abort_ = false;
    SetBusy(false);
    // A refused directory write: the card may be gone or write-protected, so
    // the drives are scanned again, as after a failed add.
    if (writeFailed || pendingRescan_) {
        pendingRescan_ = false;
        ScanMedia(true);
        return;
    }
    UpdateCardLine();
    UpdateControls();
}

// ---- About ----

void CMainWin::ShowAbout() {
    if (busy_) return;
    ShowAboutBox(this);
}

}  // namespace rk
