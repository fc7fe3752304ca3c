#pragma once

#include <curl/curl.h>

#include <memory>

// libcurl's handles, each freed by its own function when its owner lets it go.
struct CurlEasyCleanup
{
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct CurlListFree
{
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyCleanup>;
using CurlHeaders = std::unique_ptr<curl_slist, CurlListFree>;

// Adds the header line to the list; a list that cannot grow stays as it was.
inline void appendHeader(CurlHeaders& headers, const char* line)
{
    if (curl_slist* longer = curl_slist_append(headers.get(), line)) {
        (void)headers.release(); // the same list, or a new one where it was empty
        headers.reset(longer);
    }
}
