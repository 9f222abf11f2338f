#include "update/page_fetch.h"

#include <curl/curl.h>

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

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

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
    static std::once_flag globalInit;
    std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) return 0;
    CURL* c = curl.get();
    // The proxy comes from the environment, as the system is configured.
    std::unique_ptr<curl_slist, HeaderListDeleter> headers(
        curl_slist_append(nullptr, "Accept: */*"));
    if (!headers) return 0;
    std::string page;
    Download download{&page};
    const bool secure = address.rfind("https://", 0) == 0 || address.rfind("HTTPS://", 0) == 0;
    curl_easy_setopt(c, CURLOPT_URL, address.c_str());
    curl_easy_setopt(c, CURLOPT_USERAGENT, std::string(kUpdateAgentName).c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are followed, but a secure address never ends on an insecure one.
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, kFetchTimeoutSeconds);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, kFetchTimeoutSeconds);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxPageBytes));
    // An error page is no version page: "404 Not Found" must not read as version 404.
    curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &download);
    if (curl_easy_perform(c) != CURLE_OK || download.tooLarge) return 0;

    text = extractBody ? ExtractBody(page) : std::move(page);
    return 1;
}

}  // namespace hivewise
