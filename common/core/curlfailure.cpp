#include "curlfailure.h"

namespace quorrin::engine {

DownloadFailure failureOfCurl(CURLcode code, long redirects)
{
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return redirects > 0 ? DownloadFailure::RedirectRefused
                             : DownloadFailure::UnsupportedAddress;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return DownloadFailure::HostNotFound;
    case CURLE_COULDNT_CONNECT:
        return DownloadFailure::ConnectionRefused;
    case CURLE_OPERATION_TIMEDOUT:
        return DownloadFailure::TimedOut;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return DownloadFailure::Interrupted;
    case CURLE_HTTP_RETURNED_ERROR:
        return DownloadFailure::HttpError;
    case CURLE_REMOTE_FILE_NOT_FOUND:
        return DownloadFailure::RemoteFileNotFound;
    case CURLE_LOGIN_DENIED:
    case CURLE_REMOTE_ACCESS_DENIED:
        return DownloadFailure::AccessDenied;
    case CURLE_TOO_MANY_REDIRECTS:
        return DownloadFailure::TooManyRedirects;
    case CURLE_PEER_FAILED_VERIFICATION:
        return DownloadFailure::CertificateRejected;
    case CURLE_SSL_CONNECT_ERROR:
        return DownloadFailure::SecureConnectionFailed;
    case CURLE_WRITE_ERROR:
        return DownloadFailure::WriteFailed;
    case CURLE_FILESIZE_EXCEEDED:
        return DownloadFailure::TooLarge;
    case CURLE_ABORTED_BY_CALLBACK:
        return DownloadFailure::Cancelled;
    default:
        return DownloadFailure::Other;
    }
}

} // namespace quorrin::engine
