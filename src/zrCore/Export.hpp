// Export macro of the zrCore shared library. The library is built with hidden default
// visibility; only what carries ZRCORE_API is visible to hosts.
#pragma once

#if defined(_WIN32)
#if defined(ZRCORE_BUILDING)
#define ZRCORE_API __declspec(dllexport)
#else
#define ZRCORE_API __declspec(dllimport)
#endif
#else
#define ZRCORE_API __attribute__((visibility("default")))
#endif
