// Web addresses.
#pragma once

#include <string>

// The part after the last "/" before the query ("?"): the name a download is
// saved under ("dir/sub/setup.cab?x=1" gives "setup.cab").
std::string URLFileName(const std::string &url);
