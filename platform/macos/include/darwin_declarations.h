// What every one of our Darwin declarations shares: they hold for 64-bit
// macOS only, and they declare C names.
#pragma once

#if !defined(__APPLE__) || !defined(__LP64__)
#error "these declarations are for 64-bit macOS only"
#endif

#ifdef __cplusplus
#define DARWIN_C_BEGIN extern "C" {
#define DARWIN_C_END }
#else
#define DARWIN_C_BEGIN
#define DARWIN_C_END
#endif
