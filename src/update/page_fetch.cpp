#include "update/page_fetch.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <memory>
#include <mutex>

#include "platform/machine/text.h"

namespace hivewise {
namespace {

constexpr const char* kWhiteSpace = " \t\r\n\v\f";

struct Download {
    std::string* text;
    bool tooLarge = false;
};

size_t Append(char* data, size_t size, size_t count, void* user) {
    auto* download = static_cast<Download*>(user);
    size_t bytes = size * count;
    if (download->text->size() + bytes > kMaxPageBytes) {
        download->tooLarge = true;
        return 0;  // ends the transfer with an error
    }
    download->text->append(data, bytes);
    return bytes;
}

// The transfer library is opened on the first fetch rather than at every start: it and
// the libraries it needs took longer to load than the rest of the program, and held
// memory in every scan that never looks for an update.
struct Curl {
    CURLcode (*globalInit)(long flags) = nullptr;
    CURL* (*easyInit)() = nullptr;
    CURLcode (*easySetopt)(CURL* curl, CURLoption option, ...) = nullptr;
    CURLcode (*easyPerform)(CURL* curl) = nullptr;
    void (*easyCleanup)(CURL* curl) = nullptr;
    curl_slist* (*slistAppend)(curl_slist* list, const char* text) = nullptr;
    void (*slistFreeAll)(curl_slist* list) = nullptr;
};

template <typename Function>
bool Resolve(void* library, const char* name, Function* function) {
    *function = reinterpret_cast<Function>(::dlsym(library, name));
    return *function != nullptr;
}

// The library with its global set-up done, or null when the system has none.
const Curl* LoadCurl() {
    static const Curl* loaded = []() -> const Curl* {
        void* library = nullptr;
        for (const char* name : {"libcurl.so.4", "libcurl-gnutls.so.4"}) {
            library = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
            if (library) break;
        }
        if (!library) return nullptr;
        auto* curl = new Curl;  // kept for the process, as the library is
        if (!Resolve(library, "curl_global_init", &curl->globalInit) ||
            !Resolve(library, "curl_easy_init", &curl->easyInit) ||
            !Resolve(library, "curl_easy_setopt", &curl->easySetopt) ||
            !Resolve(library, "curl_easy_perform", &curl->easyPerform) ||
            !Resolve(library, "curl_easy_cleanup", &curl->easyCleanup) ||
            !Resolve(library, "curl_slist_append", &curl->slistAppend) ||
            !Resolve(library, "curl_slist_free_all", &curl->slistFreeAll) ||
            curl->globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            delete curl;
            return nullptr;
        }
        return curl;
    }();
    return loaded;
}

}  // namespace

std::string ExtractBody(std::string_view page) {
    std::string text = AnsiLower(page);
    if (size_t open = text.find("<body>"); open != std::string::npos) {
        text.erase(0, open + 6);
        if (size_t close = text.find("</body>"); close != std::string::npos) text.erase(close);
    }
    size_t first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string::npos) return {};
    size_t last = text.find_last_not_of(kWhiteSpace);
    return text.substr(first, last - first + 1);
}

int FetchPage(const std::string& address, std::string& text, int extractBody) {
    text.clear();
    const Curl* api = LoadCurl();
    if (!api) return 0;
    auto cleanup = [api](CURL* c) { api->easyCleanup(c); };
    std::unique_ptr<CURL, decltype(cleanup)> curl(api->easyInit(), cleanup);
    if (!curl) return 0;
    CURL* c = curl.get();
    // The proxy comes from the environment, as the system is configured.
    auto freeList = [api](curl_slist* list) { api->slistFreeAll(list); };
    std::unique_ptr<curl_slist, decltype(freeList)> headers(
        api->slistAppend(nullptr, "Accept: */*"), freeList);
    if (!headers) return 0;
    std::string page;
    Download download{&page};
    const bool secure = address.rfind("https://", 0) == 0 || address.rfind("HTTPS://", 0) == 0;
    const std::string agent(kUpdateAgentName);
    auto set = api->easySetopt;
    set(c, CURLOPT_URL, address.c_str());
    set(c, CURLOPT_USERAGENT, agent.c_str());
    set(c, CURLOPT_HTTPHEADER, headers.get());
    set(c, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are followed, but a secure address never ends on an insecure one.
    set(c, CURLOPT_FOLLOWLOCATION, 1L);
    set(c, CURLOPT_MAXREDIRS, 5L);
    set(c, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    set(c, CURLOPT_SSL_VERIFYPEER, 1L);
    set(c, CURLOPT_SSL_VERIFYHOST, 2L);
    set(c, CURLOPT_CONNECTTIMEOUT, kFetchTimeoutSeconds);
    set(c, CURLOPT_TIMEOUT, kFetchTimeoutSeconds);
    set(c, CURLOPT_NOSIGNAL, 1L);
    set(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxPageBytes));
    // An error page is no version page: "404 Not Found" must not read as version 404.
    set(c, CURLOPT_FAILONERROR, 1L);
    set(c, CURLOPT_WRITEFUNCTION, Append);
    set(c, CURLOPT_WRITEDATA, &download);
    if (api->easyPerform(c) != CURLE_OK || download.tooLarge) return 0;

    text = extractBody ? ExtractBody(page) : std::move(page);
    return 1;
}

}  // namespace hivewise
