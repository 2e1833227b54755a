#pragma once
// The C interface of the telemechanics connection libraries: libtmconn (connection,
// configuration, configuration items) and libcfshare (the user's credentials). Texts are
// zero-terminated single-byte (Windows-1251) texts; handles and numbers are 32-bit integers.
// The programs load both libraries at run time, so the operator's own builds can replace the
// stand-ins in this tree; the pointer types below are what they are called through.

#include <stdint.h>

#if defined(_WIN32)
#define TMC_EXPORT __declspec(dllexport)
#else
#define TMC_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Credentials for the connection opened next. The result is not meaningful.
TMC_EXPORT int32_t cfsSetUser(const char* user, const char* password);

// Connects to the TM server ("dnt$" + its name) on the NT server. -1 when it fails.
TMC_EXPORT int32_t tmcConnect(const char* ntServer, const char* tmServer, int32_t reserved1,
                              int32_t reserved2, int32_t reserved3);
// 1 while the connection stands; any other value means not connected.
TMC_EXPORT int32_t tmcIsConnected(int32_t connection);
// Writes the server's configuration as text lines to the file; 0 on failure (also for -1).
TMC_EXPORT int32_t tmcDntGetConfig(int32_t connection, const char* filePath);
// Opens the configuration item at the address (count words). A failed open still gives a
// handle: it yields no record and may be closed.
TMC_EXPORT int32_t tmcDntOpenItem(int32_t connection, int32_t count, const uint32_t* address);
// The item's next record, or null when there is none. The library owns the record: byte 0 the
// kind (0 = text property), byte 1 unused, then the text up to a zero byte.
TMC_EXPORT const void* tmcDntGetNextItem(int32_t item);
TMC_EXPORT int32_t tmcDntCloseItem(int32_t item);

#ifdef __cplusplus
}  // extern "C"
#endif

typedef int32_t (*cfsSetUser_fn)(const char*, const char*);
typedef int32_t (*tmcConnect_fn)(const char*, const char*, int32_t, int32_t, int32_t);
typedef int32_t (*tmcIsConnected_fn)(int32_t);
typedef int32_t (*tmcDntGetConfig_fn)(int32_t, const char*);
typedef int32_t (*tmcDntOpenItem_fn)(int32_t, int32_t, const uint32_t*);
typedef const void* (*tmcDntGetNextItem_fn)(int32_t);
typedef int32_t (*tmcDntCloseItem_fn)(int32_t);

// Offsets in an item record.
#define TMC_RECORD_KIND_OFFSET 0
#define TMC_RECORD_TEXT_OFFSET 2
