#include "ui/fwUiTrack.h"

#include "online/fwTrack.h"

// The usage counters do nothing themselves while "TRACK_USER" is off; the
// once rule is theirs too.
void TrackAction(const std::string &page, const std::string &action, bool once) { TrackEvent(page, action, once); }

void TrackStep(const std::string &page) { TrackPage(page); }

void TrackValue(const std::string &name, int64_t value) { TrackAmount(name, value); }
