// Compile-time facts about how a function crosses a DLL boundary on 32-bit Windows, for the
// declarations of the libraries the kit calls or exports. The vendors' libraries are 32-bit and
// built by other compilers: a pointer type that takes a different calling convention, or an
// argument that needs two stack slots, would build and link and then corrupt the stack at run
// time. These traits turn both into compile errors.
//
// C++ only; the headers that use them keep their C declarations as they are.
#pragma once

#include <cstddef>
#include <type_traits>

namespace kit_abi {

// True for a pointer to a __cdecl function. On i686 GCC keeps the calling convention in the
// function type, so a __stdcall or __fastcall pointer does not match; on x86-64 there is one
// convention and every function pointer matches.
template <class F>
struct IsCdecl : std::false_type {};
#if defined(_WIN32)
template <class R, class... A>
struct IsCdecl<R(__cdecl*)(A...)> : std::true_type {};
#else
template <class R, class... A>
struct IsCdecl<R (*)(A...)> : std::true_type {};
#endif

// Size of one argument on the stack: a reference travels as a pointer.
template <class T>
inline constexpr std::size_t kPassedSize = std::is_reference_v<T> ? sizeof(void*) : sizeof(T);

// Size of the result; none for void.
template <class T>
inline constexpr std::size_t kResultSize = sizeof(T);
template <>
inline constexpr std::size_t kResultSize<void> = 0;

// True when the result comes back in one register and every argument takes one stack slot of
// `Slot` bytes at most (a smaller one is widened by the caller). `Exact`: every argument and
// the result fill the slot (the "all 32-bit values" libraries).
template <class F, std::size_t Slot, bool Exact>
struct FitsSlots : std::false_type {};
template <class R, class... A, std::size_t Slot, bool Exact>
struct FitsSlots<R (*)(A...), Slot, Exact>
    : std::bool_constant<(kResultSize<R> == 0 || (Exact ? kResultSize<R> == Slot : kResultSize<R> <= Slot)) &&
                         ((Exact ? kPassedSize<A> == Slot : kPassedSize<A> <= Slot) && ...)> {};

// What a 32-bit vendor library is called with: __cdecl, and on a 32-bit target nothing wider than
// a 32-bit word going in or coming out. (On 64-bit targets only the convention is checked: the
// pointers there are 64-bit by nature.)
template <class F, bool Exact>
inline constexpr bool kWordCall = IsCdecl<F>::value && (sizeof(void*) != 4 || FitsSlots<F, 4, Exact>::value);

}  // namespace kit_abi

// Checks that `fn`, as declared, is a __cdecl function of 32-bit arguments and result.
#define KIT_ABI_ALL_WORDS(fn) \
    static_assert(kit_abi::kWordCall<decltype(&fn), true>, #fn ": __cdecl, 32-bit arguments and result")
// Checks that `fn` is __cdecl and that each argument fits one 32-bit stack slot.
#define KIT_ABI_SLOTS(fn) \
    static_assert(kit_abi::kWordCall<decltype(&fn), false>, #fn ": __cdecl, one 32-bit slot per argument")
