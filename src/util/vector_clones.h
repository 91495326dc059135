// Hot loops compiled for the widest vectors the processor has.
//
// A function marked VELMORA_VECTOR_CLONES is compiled three times: for the x86-64 baseline, for
// processors with AVX2 and fused multiply-add (x86-64-v3) and for those with AVX-512 (x86-64-v4);
// the program loader picks the widest one the processor runs. The clones may round differently in
// the last bits (fused multiply-adds), but a process always runs the same one, so results never
// depend on the thread count. Other compilers and processors get the one plain function.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(VELMORA_NO_VECTOR_CLONES)
#define VELMORA_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define VELMORA_VECTOR_CLONES
#endif

// A loop a clone calls must be inlined into it to be compiled for the clone's vectors: a call to
// an out-of-line copy would run the baseline code.
#if defined(__GNUC__)
#define VELMORA_INLINE_IN_CLONES __attribute__((always_inline)) inline
#else
#define VELMORA_INLINE_IN_CLONES inline
#endif

// Before a loop over several pointers the compiler cannot prove apart (an array of runs, say) that
// never overlap: lets GCC vectorise the loop. Clang builds (the fuzzers) leave it as it is: their
// request to vectorise turns into an error where the sanitizers keep the loop from it.
#if defined(__GNUC__) && !defined(__clang__)
#define VELMORA_RUNS_APART _Pragma("GCC ivdep")
#else
#define VELMORA_RUNS_APART
#endif
