#pragma once
// How the tmconn stand-in learns the credentials that cfsSetUser kept in the cfshare stand-in:
// one extra function of the cfshare stand-in, looked up by name at connect time. Not part of
// the libraries' interface; other builds of the libraries pass credentials their own way.

#include <stdint.h>

#include "abi/tmconn_api.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*cfsStandInTake_fn)(const char* user, const char* password, void* context);

// Calls take with the credentials kept by the last cfsSetUser (empty texts before any).
TMC_EXPORT void cfsStandInCredentials(cfsStandInTake_fn take, void* context);

#ifdef __cplusplus
}  // extern "C"
#endif

typedef void (*cfsStandInCredentials_fn)(cfsStandInTake_fn, void*);
