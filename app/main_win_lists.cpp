// The main window's lists, the card line and the control rules.
#include <QListWidget>

#include "app/dialog_texts.h"
#include "app/empty_text.h"
#include "app/main_win.h"
#include "base/texts.h"
#include "card/allocator.h"
#include "card/card_directory.h"
#include "card/drive_facts.h"
#include "card/video_modes.h"
#include "media/picture.h"
#include "media/thumbnail.h"

namespace rk {

namespace {

constexpr int kSlotRole = Qt::UserRole + 1;   // the table entry a row stands for
constexpr int kImageRole = Qt::UserRole + 2;  // its image in the thumbnail list

QString Multiline(const std::string& text) {
    QString s = QString::fromStdString(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

// The clips of playlist p; a damaged count reads as what the table can hold.
int ClipsOf(const CardDirectory& d, int p) { return std::clamp<int>(d.ClipCount(p), 0, kMaxClipsPerPlaylist); }

// The frames of playlist p: the sum over its clips that name a video.
int64_t PlaylistFrames(const CardDirectory& d, int p) {
    int64_t frames = 0;
    for (int i = 0, n = ClipsOf(d, p); i < n; ++i) {
        const int v = d.Clip(p, i);
        if (v >= 0 && v < kVideoCount) frames += d.Video(v).numFrames;
    }
    return frames;
}

QImage ToImage(const CPicture& picture) {
    QImage img(picture.Width(), picture.Height(), QImage::Format_RGB32);
    for (int y = 0; y < picture.Height(); ++y) {
        const uint8_t* src = picture.Row(y);
        auto* dst = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < picture.Width(); ++x) dst[x] = qRgb(src[4 * x + 2], src[4 * x + 1], src[4 * x]);
    }
    return img;
}

}  // namespace

// ---- Rules ----

WindowFacts CMainWin::Facts() const {
    WindowFacts f;
    f.cardOpen = card_.IsOpen();
    f.formatted = card_.IsOpen() && card_.IsDirectoryValid();
    // A quick edit keeps the controls as they are (its handlers still refuse).
    f.busy = busy_ && !editing_;
    f.accessDenied = accessDenied_;
    f.page = page_;
    if (!f.formatted) return f;
    const CardDirectory& d = card_.Directory();
    f.videos = UsedVideoCount(d);
    f.stills = UsedStillCount(d);
    f.effects = UsedEffectCount(d);
    f.logos = UsedLogoCount(d);
    f.videoSelected = SelectedVideoSlot() >= 0;
    const int still = SelectedRow(IDC_STILL_LIST), effect = SelectedRow(IDC_EFFECT_LIST);
    const int logo = SelectedRow(IDC_LOGO_LIST);
    f.selectedStillUsed = still >= 0 && still < kStillCount && d.Still(still).Used();
    f.selectedEffectUsed = effect >= 0 && effect < kEffectCount && d.Effect(effect).Used();
    f.selectedLogoUsed = logo >= 0 && logo < kLogoCount && d.Logo(logo).Used();
    if (currentPlaylist_ >= 0 && currentPlaylist_ < kPlaylistCount) {
        f.playlistSelected = true;
        f.playlistClips = ClipsOf(d, currentPlaylist_);
        f.playlistLoops = d.Loops(currentPlaylist_);
    }
    f.clipSelected = SelectedRow(IDC_CLIP_LIST) >= 0;
    return f;
}

void CMainWin::UpdateControls() {
    const auto states = DecideControlStates(Facts());
    for (const auto& [id, st] : states) {
        QWidget* w = Control(id);
        if (!w) continue;
        w->setEnabled(st.enabled);
        w->setVisible(st.shown);
    }
    UpdateEmptyStates();
}

QString CMainWin::EmptyStateText(int listId) const {
    const bool pageList = listId == IDC_VIDEO_LIST || listId == IDC_STILL_LIST || listId == IDC_EFFECT_LIST ||
                          listId == IDC_LOGO_LIST;
    if (!card_.IsOpen()) {
        if (!pageList) return {};
        return QString::fromStdString(FormatText(IDS_EMPTY_NO_CARD, CardFolderPath().c_str()));
    }
    if (!card_.IsDirectoryValid()) {
        if (!pageList) return {};
        std::string modes;
        for (int m = 0; m < kVideoModeCount; ++m) modes += (m ? ", " : "") + std::string(VideoModeName(m));
        return QString::fromStdString(FormatText(IDS_EMPTY_NOT_FORMATTED, modes.c_str()));
    }
    if (listId == IDC_CLIP_LIST && currentPlaylist_ >= 0 && currentPlaylist_ < kPlaylistCount &&
        ClipsOf(card_.Directory(), currentPlaylist_) == 0)
        return QString::fromStdString(LoadText(IDS_EMPTY_PLAYLIST));
    return {};
}

void CMainWin::UpdateEmptyStates() {
    for (int id : {IDC_VIDEO_LIST, IDC_STILL_LIST, IDC_EFFECT_LIST, IDC_LOGO_LIST, IDC_CLIP_LIST})
        if (auto* empty = List(id)->findChild<CEmptyText*>()) empty->Say(EmptyStateText(id));
    // Effects exist on HD cards only: on any other card the page says so.
    if (Ready() && !IsHdMode(card_.VideoMode()))
        SetControlText(IDC_EFFECT_HINT, QString::fromStdString(EffectsHdOnlyText()));
    else if (std::string hint; TranslatedDialogText(IDD_MAIN, IDC_EFFECT_HINT, hint))
        SetControlText(IDC_EFFECT_HINT, QString::fromStdString(hint));
    else
        SetControlText(IDC_EFFECT_HINT, QString::fromUtf8(BuiltInDialogText(IDD_MAIN, IDC_EFFECT_HINT)));
}

std::string CMainWin::EffectsHdOnlyText() const {
    return FormatText(IDS_EFFECTS_HD_ONLY, VideoModeName(card_.VideoMode()));
}

void CMainWin::UpdateCardLine() {
    SetControlText(IDC_CARD_LINE, QString::fromStdString(CardLineText(card_)));
    const bool videos = Ready() && UsedVideoCount(card_.Directory()) > 0;
    SetControlText(IDC_VIDEO_HINT, QString::fromStdString(LoadText(videos ? IDS_HINT_DRAG_VIDEO : IDS_HINT_ADD_VIDEO)));
}

// ---- Lists ----

int CMainWin::SelectedRow(int listId) const {
    QListWidget* l = List(listId);
    if (!l) return -1;
    const QList<QListWidgetItem*> sel = l->selectedItems();
    if (sel.isEmpty()) return -1;
    return l->row(sel.first());
}

int CMainWin::SelectedUsedEntry(int listId, CardItem kind) const {
    if (busy_ || !Ready()) return -1;
    const int row = SelectedRow(listId);
    if (row < 0 || row >= ItemCount(kind) || !ItemHead(card_.Directory(), kind, row).Used()) return -1;
    return row;
}

void CMainWin::SelectListRow(int listId, int row) {
    QListWidget* list = List(listId);
    if (!list || row < 0 || row >= list->count()) return;
    list->setCurrentRow(row);
    if (QListWidgetItem* item = list->item(row)) list->scrollToItem(item);
    list->setFocus();
}

void CMainWin::ShowAddedEntry(const OpOutcome& out, CardItem kind, int listId, int row) {
    if (out.slot < 0) RefreshLists();
    UpdateCardLine();
    if (out.slot >= 0 && Ready() && ItemHead(card_.Directory(), kind, out.slot).Used()) SelectListRow(listId, row);
    UpdateControls();
}

void CMainWin::ReadSelectedEntry(int listId, CardItem kind, const std::function<void(int)>& read) {
    const int row = SelectedUsedEntry(listId, kind);
    if (row < 0) return;
    // The operation asks for the file and shows the outcome; a failed card
    // read is reported by the card.
    read(row);
    UpdateCardLine();
    UpdateControls();
}

void CMainWin::DeleteSelectedEntry(int listId, CardItem kind, const std::function<OpOutcome(int)>& remove) {
    const int slot = SelectedUsedEntry(listId, kind);
    if (slot < 0) return;
    BeginEdit(true);
    const OpOutcome out = remove(slot);
    EndEdit(out.result == OpResult::kFailed);
}

void CMainWin::SwapEntriesAt(int a, int b, CardItem kind, const std::function<bool(int, int)>& swap) {
    const int n = ItemCount(kind);
    if (busy_ || !Ready() || a == b || a < 0 || b < 0 || a >= n || b >= n) return;
    // Only a used entry moved onto another gets here: false is a refused write.
    if (!ItemHead(card_.Directory(), kind, a).Used()) return;
    BeginEdit(false);
    const bool ok = swap(a, b);
    EndEdit(!ok);
}

int CMainWin::SelectedVideoSlot() const {
    if (!Ready()) return -1;
    const int row = SelectedRow(IDC_VIDEO_LIST);
    return row < 0 ? -1 : VideoOfListPosition(card_.Directory(), row);
}

void CMainWin::SetCurrentPlaylist(int p) {
    currentPlaylist_ = (p >= 0 && p < kPlaylistCount) ? p : -1;
    filling_ = true;
    List(IDC_PLAYLIST_LIST)->setCurrentRow(currentPlaylist_);
    filling_ = false;
    RefreshClips();
}

void CMainWin::SetThumbnail(int index, const QImage& picture) {
    thumbnails_.Set(index, picture);
    const QIcon icon = thumbnails_.Icon(index);
    for (int id : {IDC_VIDEO_LIST, IDC_PLAYLIST_LIST, IDC_CLIP_LIST, IDC_STILL_LIST, IDC_EFFECT_LIST, IDC_LOGO_LIST}) {
        QListWidget* l = List(id);
        for (int i = 0; i < l->count(); ++i)
            if (l->item(i)->data(kImageRole).toInt() == index) l->item(i)->setIcon(icon);
    }
}

void CMainWin::RefreshLists() {
    // The selections that still mean the same item afterwards: a video by its
    // entry, a still, effect or logo by its slot (= its row).
    // (The rows still stand for the directory as it was: the entry is read from the item.)
    int video = -1;
    if (const QList<QListWidgetItem*> sel = List(IDC_VIDEO_LIST)->selectedItems(); !sel.isEmpty())
        video = sel.first()->data(kSlotRole).toInt();
    const int slotRows[] = {SelectedRow(IDC_STILL_LIST), SelectedRow(IDC_EFFECT_LIST), SelectedRow(IDC_LOGO_LIST)};
    filling_ = true;
    for (int id : {IDC_VIDEO_LIST, IDC_PLAYLIST_LIST, IDC_CLIP_LIST, IDC_STILL_LIST, IDC_EFFECT_LIST, IDC_LOGO_LIST})
        List(id)->clear();
    filling_ = false;
    if (!Ready()) {
        SetControlText(IDC_PLAYLIST_STATUS, QString());
        return;
    }
    // An edit that changed no picture (a delete, a playlist edit) keeps the images.
    if (!keepThumbnails_) LoadThumbnails();
    for (int id : {IDC_VIDEO_LIST, IDC_PLAYLIST_LIST, IDC_STILL_LIST, IDC_EFFECT_LIST, IDC_LOGO_LIST}) FillList(id);
    filling_ = true;
    if (video >= 0 && video < kVideoCount && card_.Directory().Video(video).Used())
        List(IDC_VIDEO_LIST)->setCurrentRow(ListPositionOfVideo(card_.Directory(), video));
    const int slotLists[] = {IDC_STILL_LIST, IDC_EFFECT_LIST, IDC_LOGO_LIST};
    for (int i = 0; i < 3; ++i)
        if (slotRows[i] >= 0 && slotRows[i] < List(slotLists[i])->count()) List(slotLists[i])->setCurrentRow(slotRows[i]);
    filling_ = false;
    if (currentPlaylist_ >= 0) {
        filling_ = true;
        List(IDC_PLAYLIST_LIST)->setCurrentRow(currentPlaylist_);
        filling_ = false;
    }
    RefreshClips();
}

void CMainWin::LoadThumbnails() {
    // Each used item's thumbnail block; a block that cannot be read keeps the
    // image the list had.
    const CardDirectory& d = card_.Directory();
    std::vector<uint8_t> block(kThumbBlockBytes);
    CPicture picture;
    auto show = [&](int image, uint64_t cluster) {
        // An entry that points beyond the card has no thumbnail to read; asking
        // the card for it would only report a media error for a damaged entry.
        if (cluster + kThumbnailClusters > uint64_t(card_.TotalClusters())) return;
        if (ReadThumbnail(card_, static_cast<uint32_t>(cluster), block.data(), picture))
            thumbnails_.Set(image, ToImage(picture));
    };
    for (int v = 0; v < kVideoCount; ++v)
        if (d.Video(v).Used()) show(CThumbnailList::VideoImage(v), d.Video(v).ThumbnailCluster());
    for (int s = 0; s < kStillCount; ++s)
        if (d.Still(s).Used())
            show(CThumbnailList::StillImage(s),
                 uint64_t(card_.Regions().StillCluster(s)) + uint64_t(card_.ClustersPerFrame()));
    for (int e = 0; e < kEffectCount; ++e)
        if (d.Effect(e).Used()) show(CThumbnailList::EffectImage(e), d.Effect(e).ThumbnailCluster());
    for (int l = 0; l < kLogoCount; ++l)
        if (d.Logo(l).Used()) show(CThumbnailList::LogoImage(l), d.Logo(l).ThumbnailCluster());
}

void CMainWin::FillList(int id) {
    const CardDirectory& d = card_.Directory();
    QListWidget* list = List(id);
    auto add = [&](const QString& text, int slot, int image) {
        auto* item = new QListWidgetItem(thumbnails_.Icon(image), text);
        item->setData(kSlotRole, slot);
        item->setData(kImageRole, image);
        item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
        item->setToolTip(text);
        list->addItem(item);
    };
    filling_ = true;
    switch (id) {
        case IDC_VIDEO_LIST:
            for (int v = 0; v < kVideoCount; ++v)
                if (d.Video(v).Used())
                    add(Multiline(VideoText(d, v, card_.DisplayRate())), v, CThumbnailList::VideoImage(v));
            break;
        case IDC_PLAYLIST_LIST:
            for (int p = 0; p < kPlaylistCount; ++p) {
                if (ClipsOf(d, p) == 0) {
                    add(QString::number(p + 1), p, CThumbnailList::kBlank);
                    continue;
                }
                QString text = QStringLiteral("%1 - %2").arg(p + 1).arg(
                    QString::fromStdString(FramesDurationText(PlaylistFrames(d, p), card_.DisplayRate())));
                if (d.Loops(p)) text += QStringLiteral(" <>");
                const int first = d.Clip(p, 0);
                add(text, p, first >= 0 && first < kVideoCount ? first : CThumbnailList::kBlank);
            }
            break;
        case IDC_STILL_LIST:
            for (int s = 0; s < kStillCount; ++s)
                add(QString::number(s + 1), s, d.Still(s).Used() ? CThumbnailList::StillImage(s) : CThumbnailList::kBlank);
            break;
        case IDC_EFFECT_LIST:
            for (int e = 0; e < kEffectCount; ++e)
                add(EffectRowText(e), e, d.Effect(e).Used() ? CThumbnailList::EffectImage(e) : CThumbnailList::kBlank);
            break;
        case IDC_LOGO_LIST:
            for (int l = 0; l < kLogoCount; ++l)
                add(QString::number(l + 1), l, d.Logo(l).Used() ? CThumbnailList::LogoImage(l) : CThumbnailList::kBlank);
            break;
        default: break;
    }
    filling_ = false;
}

void CMainWin::RefreshClips() {
    QListWidget* clips = List(IDC_CLIP_LIST);
    filling_ = true;
    clips->clear();
    filling_ = false;
    const int p = currentPlaylist_;
    if (!Ready() || p < 0 || p >= kPlaylistCount) {
        SetControlText(IDC_PLAYLIST_STATUS, QString());
        UpdateControls();
        return;
    }
    const CardDirectory& d = card_.Directory();
    const int count = ClipsOf(d, p);
    if (count == 0) {
        SetControlText(IDC_PLAYLIST_STATUS, QString::fromStdString(FormatText(IDS_PLAYLIST_EMPTY, p + 1)));
        UpdateControls();
        return;
    }
    filling_ = true;
    for (int i = 0; i < count; ++i) {
        const int v = d.Clip(p, i);
        const bool valid = v >= 0 && v < kVideoCount;
        auto* item = new QListWidgetItem(thumbnails_.Icon(valid ? v : CThumbnailList::kBlank),
                                         valid ? Multiline(VideoText(d, v, card_.DisplayRate())) : QString());
        item->setData(kSlotRole, valid ? v : -1);
        item->setData(kImageRole, valid ? v : CThumbnailList::kBlank);
        item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
        clips->addItem(item);
    }
    filling_ = false;
    const std::string duration = FramesDurationText(PlaylistFrames(d, p), card_.DisplayRate());
    std::string status = FormatText(IDS_PLAYLIST_STATUS, p + 1, count, duration.c_str());
    if (d.Loops(p)) status += " ," + LoadText(IDS_PLAYLIST_REPEAT);
    SetControlText(IDC_PLAYLIST_STATUS, QString::fromStdString(status));
    UpdateControls();
}

}  // namespace rk
