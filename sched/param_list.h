// The one owner of kernel parameter lists: whoever creates a list holds it
// here, so that it is destroyed on every path, failures included.
#ifndef SCHED_PARAM_LIST_H_
#define SCHED_PARAM_LIST_H_

#include <memory>

#include "kni.h"

namespace Sched {

struct ParamListDeleter {
  void operator()(KNI_ParamList* list) const { KNI_ParamListDestroy(list); }
};

// Null when the kernel could not create the list. Declare the instance list
// before the input list: locals die in reverse order, and the kernel's rule is
// input list first, then instance list.
using ParamList = std::unique_ptr<KNI_ParamList, ParamListDeleter>;

inline ParamList MakeParamList(uint32_t kind, uint32_t capacity) {
  return ParamList(KNI_ParamListCreate(kind, capacity));
}

}  // namespace Sched

#endif  // SCHED_PARAM_LIST_H_
