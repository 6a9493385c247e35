// libcurl, opened at the first transfer.

#include "records/CurlLibrary.h"

#include <dlfcn.h>

#include <type_traits>

namespace telvox {

const CurlLibrary *curlLibrary()
{
    static const CurlLibrary *loaded = []() -> const CurlLibrary * {
        void *handle = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return nullptr;
        static CurlLibrary lib;
        const auto symbol = [handle](auto &function, const char *name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
            return function != nullptr;
        };
        if (!(symbol(lib.global_init, "curl_global_init") && symbol(lib.easy_init, "curl_easy_init")
              && symbol(lib.easy_setopt, "curl_easy_setopt") && symbol(lib.easy_perform, "curl_easy_perform")
              && symbol(lib.easy_getinfo, "curl_easy_getinfo") && symbol(lib.easy_strerror, "curl_easy_strerror")
              && symbol(lib.easy_cleanup, "curl_easy_cleanup") && symbol(lib.slist_append, "curl_slist_append")
              && symbol(lib.slist_free_all, "curl_slist_free_all")))
            return nullptr;
        lib.global_init(CURL_GLOBAL_DEFAULT);
        return &lib;
    }();
    return loaded;
}

} // namespace telvox
