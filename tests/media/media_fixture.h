#pragma once
// Shared pieces of the media tests: card images formatted
// for a mode, KAVQ1 files made of synthetic or really encoded slots, and a
// check that a card's directory references only complete items.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "card/card_device.h"
#include "card/fault_device.h"
#include "card/sd_card.h"
#include "card/card_test_util.h"
#include "support/test_files.h"

namespace rk::test {

// Creates a card image of `mib` MiB at `path` and formats it for `mode`.
bool MakeFormattedImage(const std::string& path, uint64_t mib, int mode);

// Opens `path` into `card` and reads its directory; with `fault` given the
// device is wrapped in a CFaultDevice that the test arms through *fault.
bool OpenCard(CSDCard& card, const std::string& path, CFaultDevice** fault = nullptr);

// One synthetic slot for a card of `mode`: an audio chunk header and a frame
// header ("KVQ1", size class, rate, budget) followed by a pattern unique to
// `frame`. Its picture does not decode.
std::vector<uint8_t> SyntheticSlot(int mode, uint32_t frame);
// `frames` synthetic slots back to back, plus `tail` extra bytes.
bool WriteSyntheticKAVQ1(const std::string& path, int mode, int frames, size_t tail = 0);

// Really encoded slots for a size class 1 card at `rate`: frame f shows a
// picture whose brightness grows with f (so thumbnails tell frames apart).
// `look`, when given, picks the picture instead of the frame number (0..6),
// so two videos can show different pictures at the same frame numbers.
std::vector<uint8_t> EncodedSlot(uint32_t frame, int rate = 50, int look = -1);
bool WriteEncodedKAVQ1(const std::string& path, int frames, int rate = 50);
// The sound of frame `frame` at rate code `rate`: its share of 48 kHz
// stereo 24-bit little-endian samples, a 440 Hz tone left and a 660 Hz
// tone right (at 3/8 of full scale), continuous from frame to frame.
std::vector<uint8_t> TestSound(uint32_t frame, int rate = 50);
// Encoded slots carrying TestSound, pictures `firstLook`, `firstLook` + 1 ...
bool WriteEncodedKAVQ1WithSound(const std::string& path, int frames, int firstLook = 0, int rate = 50);
// A logo frame slot as the logo builder makes it: size class 1, rate code
// 50, 768 sectors, frame number `frame`; colour top left, the mask as grey
// top right, black below.
std::vector<uint8_t> LogoSlot(uint32_t frame);

// Opens the image afresh and checks what a card pulled at any moment must
// show: a valid directory (or none at all) whose used video entries lie in
// the item area without overlapping. Returns an empty text when all is well.
std::string CheckCardConsistent(const std::string& image);

// True when the tools the end-to-end tests need are beside the test programs.
bool ToolsAvailable();

}  // namespace rk::test
