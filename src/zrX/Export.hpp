// Export macro of the zrX shared library, built with hidden default visibility: only what carries
// ZRX_API is visible to hosts.
#pragma once

#if defined(_WIN32)
#if defined(ZRX_BUILDING)
#define ZRX_API __declspec(dllexport)
#else
#define ZRX_API __declspec(dllimport)
#endif
#else
#define ZRX_API __attribute__((visibility("default")))
#endif
