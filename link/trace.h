#pragma once

#include <functional>
#include <string>

// Diagnostic trace of the link's exchanges. Off until a sink is set; when off,
// TraceEnabled is one relaxed atomic load and nothing is formatted.
using TTraceSink = std::function<void(const std::string &line)>;

void SetTraceSink(TTraceSink sink);
bool TraceEnabled();
void TraceWrite(const std::string &line);
