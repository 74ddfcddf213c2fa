// Which form of the format engine this build carries, and the names of the
// firmware routines that follow from it. Every other header and source asks
// here; nothing else looks at the target to decide.
//
// Several steps of the engine have two forms that give the same output for
// every input (MdePkg/Library/BasePrintLib/PrintSteps.h lists them): a
// compact one, which the IA-32 image carries because every byte of it
// counts, and a quick one for the host, which the benchmarks measure.
//
// A host build made with SOC_ENGINE_COMPACT defined carries the compact
// form, so that the host's suites and fuzzers run on exactly what the image
// runs. Its routines then live in the inline namespace compact_form: a host
// program may link both forms side by side (the differential fuzzer does)
// and call each by its own name, while the firmware's sources call them
// unqualified as always. The image and the quick host build keep plain
// global names, so the image's bytes and its link map do not change.
#ifndef MDEPKG_ENGINE_FORM_H_
#define MDEPKG_ENGINE_FORM_H_

#if defined(__i386__) || defined(SOC_ENGINE_COMPACT)
#define PRINT_COMPACT 1
#else
#define PRINT_COMPACT 0
#endif

#if !defined(__i386__) && defined(SOC_ENGINE_COMPACT)
#define FIRMWARE_ROUTINES_BEGIN inline namespace compact_form {
#define FIRMWARE_ROUTINES_END }
// C names carry no namespace: the compact host copy of a routine that has a
// C name in the image gets a C++ one, so the two copies do not collide.
#define FIRMWARE_C_NAME
#else
#define FIRMWARE_ROUTINES_BEGIN
#define FIRMWARE_ROUTINES_END
// The routines a debugger or an emulator finds in the image by a plain name.
#define FIRMWARE_C_NAME extern "C"
#endif

#endif  // MDEPKG_ENGINE_FORM_H_
