// Compile-time checking of literal formats against the C++ arguments given
// with them. PrintAscii and PrintDebugMessage take their format as a
// CHECKED_FORMAT, whose consteval constructor walks the directives the way the
// engine does and matches each argument-taking one with the next argument.
//
// A mismatch stops the constant evaluation at a call to one of the
// functions below, which are deliberately not constexpr: the compiler's error
// names that function, and the function's name names the directive.
//
// Formats known only at run time go through RUNTIME_FORMAT and the bounded
// argument records alone.
#ifndef MDEPKG_LIBRARY_PRINT_FORMAT_CHECK_H_
#define MDEPKG_LIBRARY_PRINT_FORMAT_CHECK_H_

#include "Base.h"

namespace print_format_check {

void Directive_d_needs_an_integer_of_at_most_32_bits();
void Directive_x_needs_an_integer_of_at_most_32_bits();
void Directive_X_needs_an_integer_of_at_most_32_bits();
void Directive_ld_needs_a_64_bit_integer();
void Directive_lx_needs_a_64_bit_integer();
void Directive_lX_needs_a_64_bit_integer();
void Directive_p_needs_a_32_bit_integer_or_a_pointer();
void Directive_c_needs_an_integer_of_at_most_32_bits();
void Directive_r_needs_an_EFI_STATUS();
void Directive_star_needs_an_integer_width_or_precision();
void Directive_a_needs_a_text_pointer();
void Directive_s_needs_a_CHAR16_text_pointer();
void Directive_S_needs_a_CHAR16_text_pointer();
void Directive_g_needs_an_EFI_GUID_pointer();
void Directive_t_needs_an_EFI_TIME_pointer();
void Format_has_more_arguments_than_its_directives_take();

enum ARG_CLASS : UINT8 { ARG_INTEGER_32, ARG_INTEGER_64, ARG_POINTER };

template <class T> struct ClassOf {
  static constexpr ARG_CLASS Value = sizeof(T) == 8 ? ARG_INTEGER_64 : ARG_INTEGER_32;
};
template <class T> struct ClassOf<T *> {
  static constexpr ARG_CLASS Value = ARG_POINTER;
};
template <> struct ClassOf<decltype(nullptr)> {
  static constexpr ARG_CLASS Value = ARG_POINTER;
};

template <class... ARGS> inline constexpr ARG_CLASS kClasses[sizeof...(ARGS) + 1] = {ClassOf<ARGS>::Value...,
                                                                                      ARG_INTEGER_32};

// Reports through the named function when the next argument is missing or not
// of class Wanted (Also is a second acceptable class).
consteval void Expect(const ARG_CLASS *Classes, UINTN Count, UINTN &Next, ARG_CLASS Wanted, void (*Error)(),
                      ARG_CLASS Also) {
  if (Next >= Count || (Classes[Next] != Wanted && Classes[Next] != Also)) {
    Error();
  }
  Next++;
}

consteval void Expect(const ARG_CLASS *Classes, UINTN Count, UINTN &Next, ARG_CLASS Wanted, void (*Error)()) {
  Expect(Classes, Count, Next, Wanted, Error, Wanted);
}

// What a conversion character takes: the class of its argument (Also: a
// second acceptable class) and the function that names the mismatch; a null
// Error means it takes no argument.
struct CONVERSION_RULE {
  ARG_CLASS Wanted;
  void (*Error)();
  ARG_CLASS Also;
};

consteval CONVERSION_RULE RuleOf(CHAR8 Conversion, bool Long) {
  const ARG_CLASS Number = Long ? ARG_INTEGER_64 : ARG_INTEGER_32;
  switch (Conversion) {
    case 'd':
      return {Number, Long ? Directive_ld_needs_a_64_bit_integer : Directive_d_needs_an_integer_of_at_most_32_bits,
              Number};
    case 'x':
      return {Number, Long ? Directive_lx_needs_a_64_bit_integer : Directive_x_needs_an_integer_of_at_most_32_bits,
              Number};
    case 'X':
      return {Number, Long ? Directive_lX_needs_a_64_bit_integer : Directive_X_needs_an_integer_of_at_most_32_bits,
              Number};
    case 'p': return {ARG_INTEGER_32, Directive_p_needs_a_32_bit_integer_or_a_pointer, ARG_POINTER};
    case 'c': return {ARG_INTEGER_32, Directive_c_needs_an_integer_of_at_most_32_bits, ARG_INTEGER_32};
    case 'r': return {ARG_INTEGER_32, Directive_r_needs_an_EFI_STATUS, ARG_INTEGER_32};
    case 'a': return {ARG_POINTER, Directive_a_needs_a_text_pointer, ARG_POINTER};
    case 's': return {ARG_POINTER, Directive_s_needs_a_CHAR16_text_pointer, ARG_POINTER};
    case 'S': return {ARG_POINTER, Directive_S_needs_a_CHAR16_text_pointer, ARG_POINTER};
    case 'g': return {ARG_POINTER, Directive_g_needs_an_EFI_GUID_pointer, ARG_POINTER};
    case 't': return {ARG_POINTER, Directive_t_needs_an_EFI_TIME_pointer, ARG_POINTER};
    default: return {ARG_INTEGER_32, nullptr, ARG_INTEGER_32};  // takes no argument
  }
}

consteval void CheckFormat(const CHAR8 *Format, const ARG_CLASS *Classes, UINTN Count) {
  UINTN Next = 0;
  const CHAR8 *Cursor = Format;
  while (*Cursor != 0) {
    if (*Cursor++ != '%') {
      continue;
    }
    bool Long = false;
    for (; *Cursor != 0; Cursor++) {
      const CHAR8 Character = *Cursor;
      if ((Character >= '0' && Character <= '9') || Character == '-' || Character == '+' || Character == ' ' ||
          Character == ',' || Character == '.') {
        continue;
      }
      if (Character == 'l' || Character == 'L') {
        Long = true;
        continue;
      }
      if (Character == '*') {
        Expect(Classes, Count, Next, ARG_INTEGER_32, Directive_star_needs_an_integer_width_or_precision);
        continue;
      }
      // Any other character is the conversion and ends the directive.
      const CONVERSION_RULE Rule = RuleOf(Character, Long);
      if (Rule.Error != nullptr) {
        Expect(Classes, Count, Next, Rule.Wanted, Rule.Error, Rule.Also);
      }
      Cursor++;
      break;
    }
  }
  if (Next != Count) {
    Format_has_more_arguments_than_its_directives_take();
  }
}

template <class T> struct NonDeduced {
  using Type = T;
};

}  // namespace print_format_check

// A literal format, checked against ARGS when it is constructed.
template <class... ARGS> struct PRINT_FORMAT {
  const CHAR8 *Text;
  consteval PRINT_FORMAT(const CHAR8 *Format) : Text(Format) {
    print_format_check::CheckFormat(Format, print_format_check::kClasses<ARGS...>, sizeof...(ARGS));
  }
};

// The format parameter of the checked printers; it does not take part in
// deducing ARGS, which come from the arguments themselves.
template <class... ARGS>
using CHECKED_FORMAT = PRINT_FORMAT<typename print_format_check::NonDeduced<ARGS>::Type...>;

// A format known only at run time: no compile-time check.
struct RUNTIME_FORMAT {
  explicit constexpr RUNTIME_FORMAT(const CHAR8 *Format) : Text(Format) {}
  const CHAR8 *Text;
};

#endif  // MDEPKG_LIBRARY_PRINT_FORMAT_CHECK_H_
