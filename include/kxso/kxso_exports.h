// The plug-in's exported operations: the only symbols the shared library lets
// out. A host resolves them with dlsym under these plain names.
#pragma once

#include <cstdint>

#include "kxso/KXSOSnapInfo.h"

#define KXSO_EXPORT __attribute__((visibility("default")))

extern "C" {

KXSO_EXPORT void kxso_version(int16_t* major, int16_t* minor, int16_t* patch);
KXSO_EXPORT int kxso_isSupported(void* context, int32_t kind, void* arg1, void* arg2, int16_t arg3);

KXSO_EXPORT KXSO::ResultCode kxso_prepareDevices(KXSO::SnapInfo** devices, int16_t count,
                                                 KXSO::KXOSUtil* util);
KXSO_EXPORT KXSO::ResultCode kxso_unprepareDevices(KXSO::SnapInfo** devices, int16_t count,
                                                   KXSO::KXOSUtil* util);
KXSO_EXPORT KXSO::ResultCode kxso_snapDevices(KXSO::SnapInfo** devices, int16_t count,
                                              KXSO::KXOSUtil* util);
KXSO_EXPORT KXSO::ResultCode kxso_postSnapDevices(KXSO::SnapInfo** devices, int16_t count,
                                                  KXSO::KXOSUtil* util);
KXSO_EXPORT KXSO::ResultCode kxso_mapSnaps(KXSO::SnapInfo** devices, int16_t count,
                                           KXSO::KXOSUtil* util);
KXSO_EXPORT KXSO::ResultCode kxso_isMapped(KXSO::SnapInfo** devices, int16_t count,
                                           KXSO::KXOSUtil* util);
KXSO_EXPORT KXSO::ResultCode kxso_unmapSnaps(KXSO::SnapInfo** devices, int16_t count,
                                             KXSO::KXOSUtil* util);
KXSO_EXPORT KXSO::ResultCode kxso_deleteSnaps(KXSO::SnapInfo** devices, int16_t count,
                                              KXSO::KXOSUtil* util);
KXSO_EXPORT KXSO::ResultCode kxso_revertSnaps(KXSO::SnapInfo** devices, int16_t count,
                                              KXSO::KXOSUtil* util);
KXSO_EXPORT KXSO::ResultCode kxso_reconcileSnaps(KXSO::SnapInfo** devices, int16_t count,
                                                 KXSO::KXOSUtil* util);
KXSO_EXPORT KXSO::ResultCode kxso_prepareRemoteSnaps(KXSO::SnapInfo** devices, int16_t count,
                                                     KXSO::KXOSUtil* util);
KXSO_EXPORT KXSO::ResultCode kxso_createRemoteSnaps(KXSO::SnapInfo** devices, int16_t count,
                                                    KXSO::KXOSUtil* util);
KXSO_EXPORT KXSO::ResultCode kxso_deleteRemoteSnaps(KXSO::SnapInfo** devices, int16_t count,
                                                    KXSO::KXOSUtil* util);
}
