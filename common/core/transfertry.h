#pragma once

// What one job's tries do on its easy handle: the handle's options, each try's request and
// deadline, and the judgement of a try that ended (another try, or the end of the job). The
// engine thread calls these; internal to the transfer code.

#include "transferjob.h"

#include <curl/curl.h>

namespace quorrin::engine {

// Sets the options that hold for every try of the job on its new easy handle; `share` is the
// engine's share handle.
void setUpHandle(Job &job, CURLSH *share);

// Readies the handle for the job's next try: what part of the file it asks for, and the time
// left. False when the job was cancelled meanwhile: the try is then not to start.
bool setUpTry(Job &job);

// Judges the try that ended with `code`, with the job's lock held. True when another try
// follows at job.retryAt; otherwise the job is finished, or, with its file complete, handed
// to its disk queue to land.
bool endTry(Job &job, CURLcode code);

} // namespace quorrin::engine
