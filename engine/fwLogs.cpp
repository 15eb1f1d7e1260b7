#include "engine/fwLogs.h"

#include <atomic>

namespace {
std::atomic<TfwTraceSink> Sink{nullptr};
}

void Trace(const std::string &text, int channel, int level)
{
    if (TfwTraceSink s = Sink.load()) s(text, channel, level);
}

void SetTraceSink(TfwTraceSink sink) { Sink.store(sink); }
