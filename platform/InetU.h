// Web addresses.
#pragma once

#include <string>

// Opens the trimmed address with the shell ("open"); false for an empty one or
// when the shell reports failure.
bool OpenURL(const std::string &url);
// The part after the last "/" before the query ("?"): the name a download is
// saved under ("dir/sub/setup.cab?x=1" gives "setup.cab").
std::string URLFileName(const std::string &url);
