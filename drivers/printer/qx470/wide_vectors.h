// The x86-64 vector intrinsics of the tone conversion's wide paths, which are compiled
// for their own instruction sets and chosen at run time by a processor check.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QX_TONE_AVX2 1
#if !defined(__clang__)
// GCC 12 warns inside its own AVX-512 headers: the unmasked intrinsics pass an undefined
// register as the unused merge source.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#endif

// Scalar code that only runs where the wide paths do may use the bit instructions that
// come with them.
#if defined(QX_TONE_AVX2)
#define QX_TARGET_BMI2 __attribute__((target("bmi,bmi2")))
#else
#define QX_TARGET_BMI2
#endif
