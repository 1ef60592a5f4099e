// The kernel signature check that every tool of this package runs first.
#ifndef COMMON_SIGNATURE_H_
#define COMMON_SIGNATURE_H_

#include <cstdio>
#include <cstdlib>

#include "kni.h"

// The commands' wording of a mismatch; the legacy mode words it its own way.
constexpr char kSignatureMismatch[] =
    "error: md5 signature mismatch with running zorvek built on %s, my build date: %s\n";

// A tool built for another kernel must not touch this one, not even for help.
// mismatchFormat takes the kernel's build date, then the tool's.
inline void CheckKernelSignatureOrExit(const char* mismatchFormat = kSignatureMismatch) {
  char kernelDate[KNI_BUILD_DATE_SIZE] = {};
  const char* toolDate = nullptr;
  if (KNI_CheckSig(kernelDate, sizeof kernelDate, &toolDate) != ZRV_OK) {
    kernelDate[KNI_BUILD_DATE_SIZE - 1] = '\0';
    std::fprintf(stderr, mismatchFormat, kernelDate, toolDate != nullptr ? toolDate : "");
    std::exit(1);
  }
}

#endif  // COMMON_SIGNATURE_H_
