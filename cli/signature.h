// The kernel signature check that every tool of this package runs first.
#ifndef CLI_SIGNATURE_H_
#define CLI_SIGNATURE_H_

#include <cstdio>
#include <cstdlib>

#include "kni.h"

// A tool built for another kernel must not touch this one, not even for help.
inline void CheckKernelSignatureOrExit() {
  char kernelDate[KNI_BUILD_DATE_SIZE] = {};
  const char* toolDate = nullptr;
  if (KNI_CheckSig(kernelDate, sizeof kernelDate, &toolDate) != ZRV_OK) {
    kernelDate[KNI_BUILD_DATE_SIZE - 1] = '\0';
    std::fprintf(stderr,
                 "error: md5 signature mismatch with running zorvek built on %s, my build date: "
                 "%s\n",
                 kernelDate, toolDate != nullptr ? toolDate : "");
    std::exit(1);
  }
}

#endif  // CLI_SIGNATURE_H_
