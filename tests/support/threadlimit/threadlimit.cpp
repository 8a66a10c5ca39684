// Preloaded into a test: refuses threads the way a system at its process or memory limit does,
// so that the test sees how the program takes it. While TAMBREL_STD_THREADS=N is set, N more
// std::thread threads start and every one after them is refused with EAGAIN; a new value starts
// the count again. Other threads (Qt's, the libraries') start as usual.
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include <dlfcn.h>
#include <pthread.h>

namespace
{

using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

// std::thread starts its threads on a routine of the C++ library's own.
bool startedByStdThread(void* (*start)(void*))
{
    Dl_info info{};
    return ::dladdr(reinterpret_cast<void*>(start), &info) != 0 && info.dli_fname != nullptr &&
           std::strstr(info.dli_fname, "libstdc++") != nullptr;
}

// Whether another std::thread may start now.
bool allowed()
{
    static std::mutex mutex;
    static std::string counting; // the value the count is for
    static long left = 0;
    const std::lock_guard lock(mutex);
    const char* limit = std::getenv("TAMBREL_STD_THREADS");
    if (limit == nullptr) {
        counting.clear();
        return true;
    }
    if (counting != limit) {
        counting = limit;
        left = std::strtol(limit, nullptr, 10);
    }
    return left-- > 0;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int
pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
               void* argument)
{
    static const Create next = reinterpret_cast<Create>(::dlsym(RTLD_NEXT, "pthread_create"));
    if (startedByStdThread(start) && !allowed())
        return EAGAIN;
    return next(thread, attributes, start, argument);
}
