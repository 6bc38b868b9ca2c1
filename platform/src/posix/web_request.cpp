#include "kyro/platform/web_request.h"

#include "posix_support.h"

// Only curl's types and constants are used; its functions are looked up at run time.
#define CURL_DISABLE_TYPECHECK
#define CURL_DISABLE_DEPRECATION
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <dlfcn.h>
#include <strings.h>
#include <thread>

namespace kyro::platform {

namespace {

struct Curl {
    decltype(&curl_easy_init) init = nullptr;
    decltype(&curl_easy_setopt) setOption = nullptr;
    decltype(&curl_easy_perform) perform = nullptr;
    decltype(&curl_easy_getinfo) getInfo = nullptr;
    decltype(&curl_easy_cleanup) cleanup = nullptr;
    decltype(&curl_slist_append) appendText = nullptr;
    decltype(&curl_slist_free_all) freeTexts = nullptr;
    decltype(&curl_multi_init) multiInit = nullptr;
    decltype(&curl_multi_add_handle) multiAdd = nullptr;
    decltype(&curl_multi_remove_handle) multiRemove = nullptr;
    decltype(&curl_multi_perform) multiPerform = nullptr;
    decltype(&curl_multi_wait) multiWait = nullptr;
    decltype(&curl_multi_poll) multiPoll = nullptr;   // null in a libcurl older than 7.66
    decltype(&curl_multi_info_read) multiInfo = nullptr;
    decltype(&curl_multi_cleanup) multiCleanup = nullptr;

    bool ready = false;
};

// Loads libcurl and initialises it once for the process. The library is never unloaded:
// its own dependencies register exit handlers and thread keys that must not lose their
// code while the host runs.
Curl loadCurl()
{
    Curl curl;
    void* library = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return curl;
    decltype(&curl_global_init) globalInit = nullptr;
    if (posix::lookUpSymbol(library, "curl_global_init", &globalInit) &&
        posix::lookUpSymbol(library, "curl_easy_init", &curl.init) &&
        posix::lookUpSymbol(library, "curl_easy_setopt", &curl.setOption) &&
        posix::lookUpSymbol(library, "curl_easy_perform", &curl.perform) &&
        posix::lookUpSymbol(library, "curl_easy_getinfo", &curl.getInfo) &&
        posix::lookUpSymbol(library, "curl_easy_cleanup", &curl.cleanup) &&
        posix::lookUpSymbol(library, "curl_slist_append", &curl.appendText) &&
        posix::lookUpSymbol(library, "curl_slist_free_all", &curl.freeTexts) &&
        posix::lookUpSymbol(library, "curl_multi_init", &curl.multiInit) &&
        posix::lookUpSymbol(library, "curl_multi_add_handle", &curl.multiAdd) &&
        posix::lookUpSymbol(library, "curl_multi_remove_handle", &curl.multiRemove) &&
        posix::lookUpSymbol(library, "curl_multi_perform", &curl.multiPerform) &&
        posix::lookUpSymbol(library, "curl_multi_wait", &curl.multiWait) &&
        posix::lookUpSymbol(library, "curl_multi_info_read", &curl.multiInfo) &&
        posix::lookUpSymbol(library, "curl_multi_cleanup", &curl.multiCleanup)) {
        if (!posix::lookUpSymbol(library, "curl_multi_poll", &curl.multiPoll))
            curl.multiPoll = nullptr;
        curl.ready = globalInit(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    }
    return curl;
}

const Curl& curl()
{
    static const Curl loaded = loadCurl();
    return loaded;
}

// Ends the transfer at the first byte of the body: the answer itself is not wanted.
std::size_t stopAtBody(char*, std::size_t, std::size_t, void*)
{
    return 0;
}

std::size_t acceptHeader(char*, std::size_t size, std::size_t count, void*)
{
    return size * count;
}

// Seconds, as WinINet's default connect time-out; the same bound holds for a server that
// stops sending.
constexpr long kTimeoutSeconds = 60;
constexpr std::uint32_t kIdleIntervalMs = 100;

using Clock = std::chrono::steady_clock;

std::uint32_t millisecondsUntil(Clock::time_point moment)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(moment - Clock::now());
    return left.count() > 0 ? static_cast<std::uint32_t>(left.count()) : 0;
}

enum class Transfer { Done, TimedOut, Failed };

// Runs the transfer until it is done or the limit is reached, calling the idle work between
// its steps.
Transfer drive(const Curl& functions, CURLM* multi, const WebRequestWait& wait)
{
    const Clock::time_point limit = Clock::now() + std::chrono::milliseconds(wait.limitMs);
    Clock::time_point nextIdle = Clock::now() + std::chrono::milliseconds(kIdleIntervalMs);
    for (;;) {
        int running = 0;
        if (functions.multiPerform(multi, &running) != CURLM_OK)
            return Transfer::Failed;
        int queued = 0;
        while (const CURLMsg* message = functions.multiInfo(multi, &queued)) {
            if (message->msg == CURLMSG_DONE)
                return Transfer::Done;
        }
        if (running == 0)
            return Transfer::Done;
        if (Clock::now() >= limit)
            return Transfer::TimedOut;
        if (Clock::now() >= nextIdle) {
            if (wait.idle != nullptr)
                wait.idle(wait.context);
            nextIdle = Clock::now() + std::chrono::milliseconds(kIdleIntervalMs);
        }
        const int timeout =
            static_cast<int>(std::min(millisecondsUntil(limit), millisecondsUntil(nextIdle)));
        if (functions.multiPoll != nullptr) {
            functions.multiPoll(multi, nullptr, 0, timeout, nullptr);
        } else {
            // curl_multi_wait returns at once while there is nothing to watch (a name being
            // resolved on curl's own thread).
            int watched = 0;
            functions.multiWait(multi, nullptr, 0, timeout, &watched);
            if (watched == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeout, 10)));
        }
    }
}

}  // namespace

WebRequestResult openWebAddress(const char* agent, const char* url, const WebRequestWait& wait)
{
    const Curl& functions = curl();
    if (!functions.ready)
        return WebRequestResult::SessionFailed;
    CURL* request = functions.init();
    if (request == nullptr)
        return WebRequestResult::SessionFailed;

    WebRequestResult result = WebRequestResult::AddressFailed;
    curl_slist* headers = functions.appendText(nullptr, "Pragma: no-cache");
    const bool https = url != nullptr && ::strncasecmp(url, "https://", 8) == 0;
    // Only https, also for whatever the server might answer with.
    bool configured = https && headers != nullptr;
    if (configured && functions.setOption(request, CURLOPT_PROTOCOLS_STR, "https") != CURLE_OK)
        configured = functions.setOption(request, CURLOPT_PROTOCOLS, long{CURLPROTO_HTTPS}) ==
                     CURLE_OK;   // a libcurl older than 7.85
    configured = configured &&
                 functions.setOption(request, CURLOPT_URL, url) == CURLE_OK &&
                 functions.setOption(request, CURLOPT_HTTPGET, 1L) == CURLE_OK &&
                 functions.setOption(request, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
                 functions.setOption(request, CURLOPT_USERAGENT, agent != nullptr ? agent : "") ==
                     CURLE_OK &&
                 functions.setOption(request, CURLOPT_HTTPHEADER, headers) == CURLE_OK &&
                 functions.setOption(request, CURLOPT_CONNECTTIMEOUT, kTimeoutSeconds) ==
                     CURLE_OK &&
                 functions.setOption(request, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
                 functions.setOption(request, CURLOPT_LOW_SPEED_TIME, kTimeoutSeconds) ==
                     CURLE_OK &&
                 // The host's threads and signal handlers are its own.
                 functions.setOption(request, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
                 functions.setOption(request, CURLOPT_WRITEFUNCTION, &stopAtBody) == CURLE_OK &&
                 functions.setOption(request, CURLOPT_HEADERFUNCTION, &acceptHeader) == CURLE_OK;
    CURLM* multi = configured ? functions.multiInit() : nullptr;
    if (multi != nullptr && functions.multiAdd(multi, request) == CURLM_OK) {
        const Transfer transfer = drive(functions, multi, wait);
        // A status line from the server (not from a proxy) means it answered, whether the
        // transfer then ran to its end or was stopped at the body.
        long status = 0;
        if (functions.getInfo(request, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
            status > 0)
            result = WebRequestResult::Opened;
        else if (transfer == Transfer::TimedOut)
            result = WebRequestResult::TimedOut;
        functions.multiRemove(multi, request);
    }
    if (multi != nullptr)
        functions.multiCleanup(multi);
    functions.cleanup(request);
    if (headers != nullptr)
        functions.freeTexts(headers);
    return result;
}

}  // namespace kyro::platform
