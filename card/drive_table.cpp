// The drive table and the scan that fills it.
#include "card/drive_table.h"

#include <algorithm>
#include <array>
#include <mutex>

#include "base/log.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "card/sd_card.h"
#include "ui/operator.h"

namespace rk {

namespace {

std::mutex g_tableMutex;
std::array<std::string, 10> g_table;  // index = drive number; 0 never used

void AssignNumbers(const std::vector<DriveCandidate>& candidates, std::array<std::string, 10>& table) {
    std::array<std::string, 10> next;
    // Keep every number whose device is still there ...
    for (int n = 1; n <= 9; ++n)
        for (const auto& c : candidates)
            if (c.path == table[size_t(n)]) next[size_t(n)] = c.path;
    // ... and give the lowest free ones to the newcomers, in drive order.
    for (const auto& c : candidates) {
        if (std::find(next.begin(), next.end(), c.path) != next.end()) continue;
        for (int n = 1; n <= 9; ++n)
            if (next[size_t(n)].empty()) {
                next[size_t(n)] = c.path;
                break;
            }
    }
    table = next;
}

}  // namespace

std::string DrivePath(int n) {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    return n >= 1 && n <= 9 ? g_table[size_t(n)] : std::string();
}

void ResetDriveTable() {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    g_table = {};
}

CDriveToVolumeMapping::CDriveToVolumeMapping(const std::vector<DriveCandidate>& drives,
                                             const std::vector<std::string>& numbers) {
    for (size_t n = 0; n < numbers.size() && n < 10; ++n)
        for (const auto& d : drives)
            if (!numbers[n].empty() && d.path == numbers[n]) {
                volumeTexts_[n] = d.volumeText;
                deviceNames_[n] = d.deviceName;
            }
}

std::string CDriveToVolumeMapping::Text(int n) const {
    if (n < 0 || n > 9) return {};
    return volumeTexts_[n] + " " + deviceNames_[n];
}

const std::string& CDriveToVolumeMapping::VolumeText(int n) const {
    static const std::string empty;
    return n >= 0 && n <= 9 ? volumeTexts_[n] : empty;
}

const std::string& CDriveToVolumeMapping::DeviceName(int n) const {
    static const std::string empty;
    return n >= 0 && n <= 9 ? deviceNames_[n] : empty;
}

ScanResult ScanMediaWithFacts(const SystemFacts& facts, IOperator* op, bool keepSelection, int previousDrive,
                              bool& accessDeniedFlag) {
    ScanResult result;
    auto candidates = DecideDrives(facts);
    std::array<std::string, 10> table;
    {
        std::lock_guard<std::mutex> lock(g_tableMutex);
        AssignNumbers(candidates, g_table);
        table = g_table;
    }
    const CDriveToVolumeMapping mapping(candidates, std::vector<std::string>(table.begin(), table.end()));
    for (int n = 1; n <= 9; ++n) {
        const std::string& path = table[size_t(n)];
        if (path.empty()) continue;
        auto c = std::find_if(candidates.begin(), candidates.end(), [&](auto& x) { return x.path == path; });
        CSDCard probe;
        int answer = probe.OpenPath(path);
        LogMessage(3, "drive list: %s, [%s], %d", path.c_str(), mapping.DeviceName(n).c_str(), answer);
        if (answer == kOpenAccessDenied) result.accessDenied = true;
        if (answer != kOpenOk) continue;
        DriveEntry e;
        e.number = n;
        e.path = path;
        e.kind = c->kind;
        e.sizeMiB = probe.SizeMiB();
        e.label = mapping.Text(n) + " (" + SizeText(e.sizeMiB) + ")";
        result.entries.push_back(std::move(e));
        probe.Close();
    }
    if (!result.entries.empty()) {
        result.noMedia = false;
        for (size_t i = 0; i < result.entries.size(); ++i)
            if (keepSelection && result.entries[i].number == previousDrive) result.selected = int(i);
        if (result.selected < 0) result.selected = int(result.entries.size()) - 1;
    } else if (!keepSelection && result.accessDenied) {
        accessDeniedFlag = true;
        if (op) ErrorById(*op, IDS_ACCESS_DENIED);
    }
    return result;
}

ScanResult ScanMedia(IOperator* op, bool keepSelection, int previousDrive, bool& accessDeniedFlag) {
    return ScanMediaWithFacts(GatherSystemFacts(), op, keepSelection, previousDrive, accessDeniedFlag);
}

int OpenDrive(CSDCard& card, int driveNumber, CardAccess access) {
    return card.Open(DrivePath(driveNumber), driveNumber, access);
}

}  // namespace rk
