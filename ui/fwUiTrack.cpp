#include "ui/fwUiTrack.h"

#include "online/fwTrack.h"

// The tracker keeps the once list itself: a page view clears that page's
// once-events, so one more may be counted on each new visit.
void TrackAction(const std::string &page, const std::string &action, bool once)
{
    TrackEvent(page, action, once);
}

void TrackStep(const std::string &page)
{
    TrackPage(page);
}

void TrackValue(const std::string &name, int64_t value)
{
    TrackAmount(name, value);
}
