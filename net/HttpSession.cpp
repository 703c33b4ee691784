#include "net/HttpSession.h"

#include <mutex>

void EnsureLibraryInitialised()
{
    // The library's global set-up is not safe to run twice or from two threads at once.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

TInternetSession::TInternetSession()
{
    EnsureLibraryInitialised();
    Multi = curl_multi_init();
}

TInternetSession::~TInternetSession()
{
    Shutdown();
}

void TInternetSession::Shutdown()
{
    if (Multi == nullptr)
        return;
    for (CURL* easy : Attached)
        curl_multi_remove_handle(Multi, easy);
    Attached.clear();
    curl_multi_cleanup(Multi);
    Multi = nullptr;
}

THTTPRequest::THTTPRequest()
{
    EnsureLibraryInitialised();
    Easy = curl_easy_init();
}

THTTPRequest::~THTTPRequest()
{
    if (Easy != nullptr)
        curl_easy_cleanup(Easy);
    curl_slist_free_all(Headers);
}
