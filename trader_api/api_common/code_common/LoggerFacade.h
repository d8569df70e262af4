// The utility library's process-wide logging entry: builds one SPDLogger from a JSON
// configuration, makes its logger spdlog's default logger, counts its users and shuts the logger
// down with the last of them; and a table of fmt format strings for messages with name/value
// pairs. The trading API sets its own logger up and never calls these.
//
// Initialisation and release are serialised; a bad configuration ends the process (see below).
#pragma once

#include <string>

namespace OXA {
namespace API {

constexpr int kLogFormatCount = 20;
// Exit statuses: a configuration the logger refuses, a configuration file that is missing.
constexpr int kExitBadLogConfig = -7644;
constexpr int kExitNoLogConfigFile = -787;

// Entry n (0 to 19) is "[{}] {} " followed by n copies of "[{}] = [{}] "; "" until
// InitLoggerFromFile has read a file; null outside 0 to 19.
const char* GetLogFormat(int n);

// True when this call built and registered the logger: the first call while the count of
// InitLogger minus ReleaseLogger calls is 0 (every call counts). A configuration the logger
// refuses prints "Init Logger With[<json>]Failed,[<code>] [<text>]" to standard output and ends
// the process with kExitBadLogConfig. err may be null; it is written only by a call that builds.
bool InitLogger(const std::string& json, const char** err);
// A missing file prints "Fatal Error, No Such File[<path>]" and ends the process with
// kExitNoLogConfigFile; a file that exists but cannot be read prints "Fatal Error,
// ReadLogConfigFile[<path>] Failed[<code>]" and gives false. Otherwise builds the format table
// and returns InitLogger on the file's content.
bool InitLoggerFromFile(const char* path);
// Counts one user off; the call that brings the count to 0 or below shuts the logger down
// (flushing it unless noFlush), drops it and returns true.
bool ReleaseLogger(bool noFlush);

}  // namespace API
}  // namespace OXA
