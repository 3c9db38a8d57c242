#ifndef CODEC_SIMD_H
#define CODEC_SIMD_H

// Hot kernel loops are built twice, for AVX2 and for the baseline instruction set, and the loader picks
// the AVX2 form on machines that have it. Both forms compile the same source, so their output is the same.
// Windows executables have no loader-resolved functions (ifunc): there the loops keep the baseline form, and
// only the hand-written AVX2 kernels below are chosen at run time. Nor does ThreadSanitizer: it instruments the
// loader's chooser of the clones, which runs before the sanitizer's runtime is ready, and the program crashes
// at load.
#if defined(__SANITIZE_THREAD__)
#define ZRC_NO_CLONES 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZRC_NO_CLONES 1
#endif
#endif
#if defined(__x86_64__) && defined(__has_attribute) && !defined(_WIN32) && !defined(ZRC_NO_CLONES)
#if __has_attribute(target_clones)
#define ZRC_CLONES __attribute__((target_clones("avx2", "default")))
#endif
#endif
#ifndef ZRC_CLONES
#define ZRC_CLONES
#endif

// Hand-written AVX2 kernels: compiled for AVX2 whatever the baseline, run only after a run-time check.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZRC_HAVE_AVX2_KERNELS 1
#define ZRC_AVX2 __attribute__((target("avx2")))
#define ZRC_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline
#define ZRC_AVX2_LAMBDA __attribute__((target("avx2"), always_inline))
#endif

// Kernels inlined into the cloned loops, so that each clone gets its own instruction selection.
#define ZRC_INLINE __attribute__((always_inline)) inline
// The same for a lambda handed to an inlined kernel walk.
#define ZRC_LAMBDA __attribute__((always_inline))

#endif
