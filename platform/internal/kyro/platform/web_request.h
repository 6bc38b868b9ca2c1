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
//
// Every request has a time limit of its own, whatever those time-outs would allow (a proxy
// that takes the connection and never answers would hold it for minutes), and the caller
// may have its own work done while it waits. Windows runs the WinINet calls on a thread of
// their own, which holds the module loaded until it is done and is cut short by closing its
// session at the limit; POSIX drives the transfer itself, on the calling thread.
#ifndef KYRO_PLATFORM_WEB_REQUEST_H
#define KYRO_PLATFORM_WEB_REQUEST_H

#include <cstdint>

namespace kyro::platform {

enum class WebRequestResult {
    SessionFailed,   // no internet session (WinINet refused, libcurl missing or unusable)
    AddressFailed,   // the address could not be opened: not https, no connection, no answer
    Opened,          // the server answered with a response status, whatever it was
    TimedOut         // no answer within the time limit; the attempt was given up
};

// How long a request may take, and what the caller does meanwhile: `idle(context)` (when
// not null) about every 100 ms, on the calling thread.
struct WebRequestWait {
    std::uint32_t limitMs = 60000;
    void (*idle)(void* context) = nullptr;
    void* context = nullptr;
};

// Opens the https address `url` (UTF-8) once, presenting `agent` as the user agent. Returns
// when the server answered, the attempt failed or the time limit was reached.
WebRequestResult openWebAddress(const char* agent, const char* url,
                                const WebRequestWait& wait = WebRequestWait());

}  // namespace kyro::platform

#endif
