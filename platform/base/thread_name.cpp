#include "thread_name.h"

#ifndef _WIN32
#include <pthread.h>
#endif

namespace threadname {

void name_this_thread(const char *name)
{
#ifdef _WIN32
    (void)name;
#else
    pthread_setname_np(pthread_self(), name);
#endif
}

} // namespace threadname
