#pragma once

#include <curl/curl.h>

namespace telvox {

// libcurl and the two dozen libraries it needs (TLS, Kerberos, LDAP, SSH...) are loaded when
// the first transfer is made (a mail, a webhook post), not at every start of the program: that
// saves about 3 ms of CPU per start.
struct CurlLibrary
{
    decltype(&curl_global_init) global_init = nullptr;
    decltype(&curl_easy_init) easy_init = nullptr;
    decltype(&curl_easy_setopt) easy_setopt = nullptr;
    decltype(&curl_easy_perform) easy_perform = nullptr;
    decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&curl_easy_strerror) easy_strerror = nullptr;
    decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&curl_slist_append) slist_append = nullptr;
    decltype(&curl_slist_free_all) slist_free_all = nullptr;
};

// Null when libcurl cannot be loaded. Loaded and initialised once, whichever thread asks first.
const CurlLibrary *curlLibrary();

} // namespace telvox
