#include "platform/InetU.h"
#include "platform/TextU.h"

#include "platform/ShellU.h"

#include <windows.h>

std::string URLFileName(const std::string &url)
{
    // The query goes first: it may hold slashes of its own
    // ("get.cab?from=http://x/y") that are no part of the file's name.
    std::string path = url.substr(0, url.find('?'));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
