// Engine trace. Lines are emitted at fixed points while loading, scanning and
// fixing; by default they go nowhere and nothing may depend on them. A front
// end may install a sink (the console program's --trace) to look inside a run.
#pragma once

#include <string>

enum TfwTraceChannel { tcLoad = 1, tcScan = 2, tcFix = 3 };
enum TfwTraceLevel { tlDetail = 0, tlStep = 1, tlFinding = 2 };

using TfwTraceSink = void (*)(const std::string &text, int channel, int level);

void Trace(const std::string &text, int channel, int level);
void SetTraceSink(TfwTraceSink sink);
