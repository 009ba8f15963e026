// Asks the processor to bring a cache line in ahead of its use.
#pragma once

inline void PrefetchLine(const void* p)
{
#if defined(__x86_64__)
    // As an instruction of its own: the compiler drops a prefetch whose result nothing uses.
    asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(p)));
#else
    __builtin_prefetch(p);
#endif
}
