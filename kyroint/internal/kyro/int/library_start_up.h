// The library's start-up, which the host's entry point (kyrointStartUp) runs once, before
// anything else of the library. It sits above the custom environment file and the
// well-known locations, which know nothing of each other's start-up duties.
#ifndef KYRO_INT_LIBRARY_START_UP_H
#define KYRO_INT_LIBRARY_START_UP_H

namespace kyrointutil {

// The custom environment's step: asks CKyroUtilCustomEnv's loadStatus() once; on 2 or 3
// prints the matching message to standard output and answers false; on 0 puts the
// library folder on PATH (addLibraryFolderToPath, kyro/util/locations.h). True unless the
// file failed.
bool startUpCustomEnvironment();

// The whole start-up: startUpCustomEnvironment() between the performance markers
// "KYROINITIALIZE.START" and "KYROINITIALIZE.STOP" of component 1 (written while
// KYRO_PERF_LOG is set). Returns startUpCustomEnvironment()'s answer.
bool startUpLibrary();

}  // namespace kyrointutil

#endif
