#pragma once
// The drive table: drive numbers 1 to 9 given to the drives a scan offers,
// kept with their device for the life of the process; the scan that probes
// them; and the texts of each numbered drive.
#include <cstdint>
#include <string>
#include <vector>

#include "card/card_device.h"
#include "card/drive_rules.h"

namespace rk {

class CSDCard;
class IOperator;

// The texts of drives 0 to 9 for one scan: the mount point in brackets of a
// mounted volume on that drive, and the device's vendor and model (or the
// image's file name).
class CDriveToVolumeMapping {
public:
    CDriveToVolumeMapping() = default;
    // `numbers[n]` is the path given drive number n.
    CDriveToVolumeMapping(const std::vector<DriveCandidate>& drives, const std::vector<std::string>& numbers);
    virtual ~CDriveToVolumeMapping() = default;

    // "%s %s": the volume text and the device name; empty outside 0 to 9.
    std::string Text(int drive) const;
    const std::string& VolumeText(int drive) const;
    const std::string& DeviceName(int drive) const;

private:
    std::string volumeTexts_[10];
    std::string deviceNames_[10];
};

struct DriveEntry {
    int number = 0;        // 1 to 9
    std::string label;     // "%s (%s)": "<volume text> <device name>" and the size text
    std::string path;
    DriveKind kind = DriveKind::kCardReader;
    int32_t sizeMiB = 0;
};

struct ScanResult {
    std::vector<DriveEntry> entries;  // in drive order
    int selected = -1;                // index into entries; -1 with no media
    bool noMedia = true;              // the list shows only "No media"
    bool accessDenied = false;        // at least one drive refused access
};

// Builds the drive table, probes every candidate with a short-lived CSDCard
// and picks the selection: the entry of `previousDrive` when still present,
// else the last entry. Numbers stay with their device for the life of the
// process, so a kept selection keeps its number. On the first scan
// (keepSelection false) with no entry and a refusal, "Access denied!" is
// shown through `op` (when not null) and `accessDeniedFlag` is set.
ScanResult ScanMedia(IOperator* op, bool keepSelection, int previousDrive, bool& accessDeniedFlag);
// The same over given facts (tests).
ScanResult ScanMediaWithFacts(const SystemFacts& facts, IOperator* op, bool keepSelection, int previousDrive,
                              bool& accessDeniedFlag);

// The path of drive n in the last scan's table; empty when unknown.
std::string DrivePath(int driveNumber);
// Forgets every number given out (tests).
void ResetDriveTable();

// Opens drive n of the last scan's table on `card` (an unknown number fails
// with kOpenFailed and leaves the card closed).
int OpenDrive(CSDCard& card, int driveNumber, CardAccess access = CardAccess::kReadWrite);

}  // namespace rk
