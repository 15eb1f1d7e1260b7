#include "ui/fwUiTrack.h"

#include <set>
#include <utility>

// The usage counters live in the online library; until it offers them the
// codes stop here, with the once rule already applied so that the caller's
// contract does not change when they are passed on.
void TrackAction(const std::string &page, const std::string &action, bool once)
{
    static std::set<std::pair<std::string, std::string>> sent;
    if (once && !sent.insert({page, action}).second) return;
}

void TrackStep(const std::string &page) {}

void TrackValue(const std::string &name, int64_t value) {}
