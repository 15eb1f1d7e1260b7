// Shell links (.lnk files).
#pragma once

#include <string>

// For an existing file whose extension is ".lnk" (any case): the target path
// the link reports (UNC form preferred). withArguments gives "\"target\" args"
// instead. Empty for other files and on any failure. Needs COM initialised on
// the calling thread.
std::string ShortcutTarget(const std::string &path, bool withArguments);
