// Every usage code the wizard and the main window report goes through here,
// so the tracker is reached from one place.
#pragma once

#include <cstdint>
#include <string>

// A user action on a page: (page code, action code); once: counted at most
// once per visit of the page (TrackStep of it starts a new one).
void TrackAction(const std::string &page, const std::string &action, bool once);
// Entering a page.
void TrackStep(const std::string &page);
// A numeric result ("#FX", "#CL").
void TrackValue(const std::string &name, int64_t value);
