#pragma once

#include "downloadfailure.h"

#include <curl/curl.h>

namespace quorrin::engine {

// What a libcurl result means for the user; `redirects` tells an address refused from the
// start from one a redirect led to.
DownloadFailure failureOfCurl(CURLcode code, long redirects);

} // namespace quorrin::engine
