// The recycle bins of all drives, through the shell.
#pragma once

#include <cstdint>
#include <string>

// True when the bins hold nothing, and also when the query fails.
bool IsRecycleBinEmpty();
// Total size in bytes and number of items; false (both 0) when the query fails.
bool RecycleBinInfo(int64_t &size, int64_t &items);
// Empties the bin of root (all drives when empty). Without confirm, progress
// and sound the shell asks nothing, shows no progress and plays no sound.
bool EmptyRecycleBin(const std::string &root, bool confirm, bool progress, bool sound);
void UpdateRecycleBinIcon();
