#pragma once
// The expression engine: compiles one arithmetic expression over declared
// variables into a postfix program and evaluates that program as often as the
// caller wants with the variables' current values.
//
// Language: double numbers (digits, optionally a point and more digits),
// variables (a letter - Latin or Cyrillic in code page 1251 - then letters,
// digits and points), the infix operators + - * / ^ (all left-associative,
// ^ binding tightest) and parentheses. No functions, no unary operators, no
// blanks. All text is 8-bit code page 1251.
#include <bit>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

// A symbol of the recogniser's stack and an item of the compiled program: a
// kind byte and a value. Kinds: 'I' variable (value = its index), 'N' number,
// an operator or any other byte standing for itself, the nonterminals
// 'G', 'M', 'T', 'B', 'A', and 0 for the end of a program.
struct CSymbol {
  char kind;
  double value;
};

// Compilation results.
enum EInterpreterError : int {
  ieOk = 0,
  ieSyntax = 1,                // only if no table row matched, which the table never allows
  ieExpectingExpression = 2,   // an operand was expected
  ieUnknownSymbol = 3,         // in the string table only
  ieSyntax4 = 4,               // in the string table only
  ieUnexpectedSymbol = 5,      // nothing fits after a complete sum
  ieMissingParenthesis = 6,    // an open parenthesis is never closed
  ieUndefinedVariable = 7,     // an identifier names no declared variable
};

enum ELanguage { lngRussian, lngEnglish };

// What Evaluate returns after a failed compilation or a division by zero:
// the double whose 64 bits are all set (a quiet NaN).
inline constexpr double kInterpreterNaN = std::bit_cast<double>(~std::uint64_t{0});

class CInterpreter {
 public:
  // The code before the first compilation.
  static constexpr int kNotCompiled = -1;

  CInterpreter();
  // The compiled steps point into the engine's own stores.
  CInterpreter(const CInterpreter&) = delete;
  CInterpreter& operator=(const CInterpreter&) = delete;

  // Adds the variable if it is new (value 0.0) and returns its index, which
  // stays valid for the life of the engine.
  int Declare(std::string_view name);
  // Stores the value of a declared variable; false (and nothing declared)
  // when there is none of that name.
  bool SetValue(std::string_view name, double value);
  // Replaces the program and the stored result by those of `text`; returns
  // the code (0 on success). Names are bound to their indexes here.
  int Compile(std::string_view text);
  // Runs the program with the current values: no allocation, no name
  // look-up. kInterpreterNaN before the first Compile, after a failed one and
  // on a division by zero.
  double Evaluate() noexcept;

  int ErrorCode() const { return code_; }
  // The text of the last compilation's code in the user-interface language
  // (Russian; UTF-8), empty before the first compilation.
  const char* ErrorText() const;
  // String table: the text of `code` (string identifier 200 + code) in
  // either language, UTF-8; empty for an unknown code.
  static const char* ErrorText(int code, ELanguage language);

  // The compiled program, ended by an item of kind 0.
  const std::vector<CSymbol>& Program() const { return program_; }
  // Index of a declared variable, -1 when there is none.
  int IndexOf(std::string_view name) const;
  int VariableCount() const { return static_cast<int>(values_.size()); }
  double Value(int index) const;

 private:
  // One operator of the program with its operands resolved at compile time:
  // a variable's value, a number of the program, or the evaluation stack
  // slot that holds an intermediate result. The result goes to the slot of
  // the left operand's stack position, as a stack machine would leave it.
  struct CStep {
    char kind;
    double* result;
    const double* left;
    const double* right;
  };

  bool ReadToken(std::string_view text, size_t& pos);
  int Finish(int code);

  std::vector<std::string> names_;
  std::deque<double> values_;        // a deque: values never move when variables are added
  std::vector<CSymbol> program_;
  std::vector<CSymbol> stack_;       // the recogniser's stack
  std::vector<double> evalStack_;    // grows at Compile to the program's deepest point
  std::vector<CStep> steps_;
  const double* result_ = nullptr;   // where the value is once the steps have run
  int code_ = kNotCompiled;
};
