// Compile-time checking of literal formats against the C++ arguments given
// with them. Which characters are flags and conversions, and what each
// conversion takes, come from the grammar (PrintGrammar.h). PrintAscii and PrintDebugMessage take their format as a
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
#include "Library/PrintGrammar.h"

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

// The function that names a mismatch for a conversion class; Long picks the
// 64-bit wording of the number conversions. Null for the classes that take
// no argument.
consteval void (*ErrorOf(UINTN Class, bool Long))() {
  using namespace print_grammar;
  void (*const Errors[kConversionCount][2])() = {
      {Directive_d_needs_an_integer_of_at_most_32_bits, Directive_ld_needs_a_64_bit_integer},
      {Directive_x_needs_an_integer_of_at_most_32_bits, Directive_lx_needs_a_64_bit_integer},
      {Directive_X_needs_an_integer_of_at_most_32_bits, Directive_lX_needs_a_64_bit_integer},
      {Directive_p_needs_a_32_bit_integer_or_a_pointer, Directive_p_needs_a_32_bit_integer_or_a_pointer},
      {Directive_a_needs_a_text_pointer, Directive_a_needs_a_text_pointer},
      {Directive_S_needs_a_CHAR16_text_pointer, Directive_S_needs_a_CHAR16_text_pointer},
      {Directive_s_needs_a_CHAR16_text_pointer, Directive_s_needs_a_CHAR16_text_pointer},
      {Directive_c_needs_an_integer_of_at_most_32_bits, Directive_c_needs_an_integer_of_at_most_32_bits},
      {Directive_g_needs_an_EFI_GUID_pointer, Directive_g_needs_an_EFI_GUID_pointer},
      {Directive_t_needs_an_EFI_TIME_pointer, Directive_t_needs_an_EFI_TIME_pointer},
      {Directive_r_needs_an_EFI_STATUS, Directive_r_needs_an_EFI_STATUS},
      {nullptr, nullptr},  // line feed
      {nullptr, nullptr},  // carriage return
  };
  return Class < kConversionCount ? Errors[Class][Long] : nullptr;
}

// What a conversion takes, from the grammar.
consteval CONVERSION_RULE RuleOf(CHAR8 Conversion, bool Long) {
  using namespace print_grammar;
  const UINTN Class = print_grammar::ClassOf(Conversion);
  void (*const Error)() = ErrorOf(Class, Long);
  switch (TakesOf(Class)) {
    case TAKES_NUMBER: {
      const ARG_CLASS Number = Long ? ARG_INTEGER_64 : ARG_INTEGER_32;
      return {Number, Error, Number};
    }
    case TAKES_ADDRESS: return {ARG_INTEGER_32, Error, ARG_POINTER};
    case TAKES_CHARACTER:
    case TAKES_STATUS: return {ARG_INTEGER_32, Error, ARG_INTEGER_32};
    case TAKES_TEXT:
    case TAKES_CHAR16_TEXT:
    case TAKES_GUID:
    case TAKES_TIME: return {ARG_POINTER, Error, ARG_POINTER};
    case TAKES_NOTHING: break;
  }
  return {ARG_INTEGER_32, nullptr, ARG_INTEGER_32};  // takes no argument
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
      const UINT32 Flag = print_grammar::FlagBitOf(Character);
      if (print_grammar::IsDigit(Character) || Flag != 0) {
        Long = Long || Flag == PF_VALUE_64;
        continue;
      }
      if (Character == print_grammar::kStar) {
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
