// Whether the scanning loops may use SSE2 (every x86-64 compiler has it).
// Defining XML_SCAN_SCALAR forces the plain C++ loops, so that they are tested too.
#pragma once

#if !defined(XML_SCAN_SCALAR) && \
    (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#include <emmintrin.h>
#define XML_SCAN_SSE2 1
#else
#define XML_SCAN_SSE2 0
#endif

