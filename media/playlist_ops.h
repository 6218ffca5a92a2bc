#pragma once
// Playlists: 16 records of up to 15 clips (video entry numbers) and an end
// mode, each with a title card at a fixed place: the middle frame of its
// first clip with the playlist number and duration drawn over it. Every edit
// remakes the title cards it touches, then writes the directory.
#include <cstdint>
#include <string>
#include <vector>

namespace rk {

class CSDCard;
class CardDirectory;
class IOperator;

struct PlaylistEdit {
    bool done = false;           // the record changed and the directory was written
    bool written = false;        // the directory write was attempted and succeeded
    bool stopped = false;        // Stop while the title cards were made: nothing was written
    int titleCardFailures = 0;   // title cards that could not be remade (logged)
};

struct TitleCardsOutcome {
    bool stopped = false;  // Stop before any was written: none was
    int failures = 0;      // title cards that could not be remade (logged; the old picture stays)
};

// Sum of the clips' NumFrames.
uint64_t PlaylistFrames(const CardDirectory& dir, int p);
// "%d:%02d:%02d.%02d" of that sum at the card's display rate.
std::string PlaylistDurationText(const CardDirectory& dir, int p, int displayRate);
// The frame of the first clip the title card shows: NumFrames / 2.
uint32_t TitleCardSourceFrame(uint32_t numFrames);
// Number of playlists holding video entry `v` at least once.
int PlaylistsUsingVideo(const CardDirectory& dir, int v);
// Removes every clip of `v` from every playlist; `changed[p]` tells which
// playlists lost clips. Answers how many playlists changed.
int RemoveVideoFromPlaylists(CardDirectory& dir, int v, bool changed[16]);

// The ImageMagick words that draw a title card over the frame picture
// `framePicture` (a file of the tool's folder) and write the PNG `output`
// there at zlib level `pngLevel` (the pixels do not depend on it): band
// and duration, square and number (`number` as shown, from 1), the loop mark
// when `loops`. False when a template does not expand.
bool TitleCardWords(bool hd, const std::string& duration, int number, bool loops, const std::string& framePicture,
                    int pngLevel, const std::string& output, std::vector<std::string>& words);

// True when the title card drawn over this frame (R, G, B rows) is sure to
// come out of ImageMagick as 8-bit RGBA (then its bare rows are taken
// instead of a PNG): more than 256 colours, one of them not grey, in rows
// the drawing never touches.
bool TitleCardBecomesRgba(const std::vector<uint8_t>& rgb, int width, int height);
// The same of width x height x 3 bytes at `rgb`.
bool TitleCardBecomesRgba(const uint8_t* rgb, int width, int height);

// Remakes the title card of playlist p (nothing for an empty playlist):
// true when written. A failure is logged at level 2; the window stays
// silent, the old picture stays.
bool MakeTitleCard(IOperator& op, CSDCard& card, int p);

// Remakes the title cards of `playlists` (empty ones are skipped), as one
// step of an edit that writes the directory afterwards. The pictures are
// made first, several at once, with progress (one step a card) and Stop
// when there is more than one; only when all are made are they written,
// without Stop. A Stop (also one asked for before) writes nothing.
TitleCardsOutcome RemakeTitleCards(IOperator& op, CSDCard& card, const std::vector<int>& playlists);

// Ends an edit of the in-memory directory (`before` is the directory as the
// card holds it): remakes the title cards of `playlists`, then writes the
// directory. All or nothing: on a Stop the directory goes back to `before`,
// "Operation aborted." is shown and nothing is written. When no working
// folder can be made for the tools, the edit is refused the same way, with
// the cause.
PlaylistEdit CommitPlaylistEdit(IOperator& op, CSDCard& card, const CardDirectory& before,
                                const std::vector<int>& playlists);

// The edits. Positions are 0-based; `at` = -1 appends.
PlaylistEdit AddClip(IOperator& op, CSDCard& card, int p, int video, int at = -1);
PlaylistEdit RemoveClip(IOperator& op, CSDCard& card, int p, int k);
// Asks "Clear playlist %d?"; zeroes the record (end mode included).
PlaylistEdit ClearPlaylist(IOperator& op, CSDCard& card, int p);
PlaylistEdit SwapPlaylists(IOperator& op, CSDCard& card, int a, int b);
PlaylistEdit SwapClips(IOperator& op, CSDCard& card, int p, int i, int j);
PlaylistEdit SetEndMode(IOperator& op, CSDCard& card, int p, bool repeat);

}  // namespace rk
