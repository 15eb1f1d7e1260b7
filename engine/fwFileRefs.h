// The fixed local drives, as the missing-files search limits itself to them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct TDriveInfo {
    char Letter = 'A';  // upper case
    std::string Root() const { return std::string(1, Letter) + ":\\"; }
};

// Drives named by a GetLogicalDrives bit mask (bit i is the letter 'A' + i),
// in letter order.
class TLogicalDrives {
public:
    explicit TLogicalDrives(DWORD mask);
    const std::vector<TDriveInfo> &Drives() const { return FDrives; }

private:
    std::vector<TDriveInfo> FDrives;
};

// Roots ("C:\") of the drives the system called fixed when this was first
// asked; never refreshed for the life of the process.
const std::vector<std::string> &FixedDriveRoots();
