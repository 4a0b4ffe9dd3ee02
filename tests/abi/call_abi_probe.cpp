// Compiled, not run: each PROBE_ case declares an entry point the way a slip in a header would and
// must be rejected by the same checks the vendor and export headers apply. Without a PROBE_ macro
// the kit's own declarations must pass on the probing compiler.
#include "camlib/camlib.h"
#include "camlib/exports/quelmar_camera.h"
#include "vendor/RvcLib.h"
#include "vendor/call_abi.h"

extern "C" {
#if defined(PROBE_STDCALL)
// A vendor entry point left at the Win32 API's convention: the callee would pop its arguments.
int32_t __stdcall probe_entry(int32_t index);
#elif defined(PROBE_WIDE_ARGUMENT)
// A 64-bit argument takes two stack slots on 32-bit Windows.
int32_t __cdecl probe_entry(int32_t index, int64_t offset);
#elif defined(PROBE_NARROW_RESULT)
// The library returns a full 32-bit word; a narrower result type drops its upper bytes.
int16_t __cdecl probe_entry(int32_t index);
#else
int32_t __cdecl probe_entry(int32_t index);
#endif
}

KIT_ABI_ALL_WORDS(probe_entry);
