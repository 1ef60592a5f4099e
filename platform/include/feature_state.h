/*
 * Feature switches: named host switches that are on or off. On the real host
 * this header comes with the switch library; elsewhere hostsim implements it.
 */
#ifndef PLATFORM_FEATURE_STATE_H_
#define PLATFORM_FEATURE_STATE_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Prepares the library for lookups; callers make it before every lookup. */
void FeatureState_Init(void);

/*
 * The switch's state byte (0: off, anything else: on), or null for a switch
 * the host does not know. The byte stays readable until the process ends.
 */
const uint8_t* GetFeatureState_Slow(const char* name);

#ifdef __cplusplus
}
#endif

#endif /* PLATFORM_FEATURE_STATE_H_ */
