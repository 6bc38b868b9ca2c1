// Opening a web address once, for what the opening itself does: the system validates the
// server's certificate chain on the way (and on Windows fetches a missing trusted root).
// Nothing is sent beyond the request and nothing is read from the answer.
//
// Windows: WinINet (InternetOpenW with the system's preconfigured proxy settings,
// InternetOpenUrlW with INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE), with
// WinINet's own time-outs and redirect rules.
//
// POSIX: libcurl, loaded when the first request is made (it brings dozens of libraries
// that a host loading this library should not pay for) and kept for the rest of the
// process. A GET with "Pragma: no-cache", the proxy from libcurl's usual variables
// (https_proxy, HTTPS_PROXY, all_proxy, no_proxy), the certificate checked against the
// system trust store, no redirect followed, at most 60 s to connect and at most 60 s
// without a byte from the server. The request ends at the first byte of the body.
#ifndef KYRO_PLATFORM_WEB_REQUEST_H
#define KYRO_PLATFORM_WEB_REQUEST_H

namespace kyro::platform {

enum class WebRequestResult {
    SessionFailed,   // no internet session (WinINet refused, libcurl missing or unusable)
    AddressFailed,   // the address could not be opened: not https, no connection, no answer
    Opened           // the server answered with a response status, whatever it was
};

// Opens the https address `url` (UTF-8) once, presenting `agent` as the user agent. Blocks
// until the server answered or the attempt failed.
WebRequestResult openWebAddress(const char* agent, const char* url);

}  // namespace kyro::platform

#endif
