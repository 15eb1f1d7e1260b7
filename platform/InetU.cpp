#include "platform/InetU.h"

#include "platform/ShellU.h"

#include <windows.h>

namespace {

std::string Trim(const std::string &text)
{
    size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
    return text.substr(b, e - b);
}

} // namespace

bool OpenURL(const std::string &url)
{
    try {
        std::string address = Trim(url);
        return !address.empty() && ShellOpen(address);
    } catch (...) {
        return false;
    }
}

std::string URLFileName(const std::string &url)
{
    // The query goes first: it may hold slashes of its own
    // ("get.cab?from=http://x/y") that are no part of the file's name.
    std::string path = url.substr(0, url.find('?'));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
