// libFuzzer target: arbitrary bytes as an expression. Whatever the input, the
// compiler must end with a code it documents, close the program with the end
// item, and hand Evaluate only well-formed postfix programs; the sanitizers
// catch any access outside the stores.
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "interpreter/Interpreter.h"

namespace {

CInterpreter& Engine() {
  // One engine for every input, so that stores sized by a long expression
  // are reused by shorter ones.
  static CInterpreter* engine = [] {
    auto* e = new CInterpreter;
    for (const char* name : {"x", "y", "X", "a.b", "\xE0.\xE0\xF0\xE3"}) e->Declare(name);
    e->SetValue("x", 2.0);
    e->SetValue("y", 0.0);  // reaches the division-by-zero exit
    return e;
  }();
  return *engine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  CInterpreter& engine = Engine();
  const int code = engine.Compile(std::string_view(reinterpret_cast<const char*>(data), size));
  if (code != ieOk && code != ieExpectingExpression && code != ieUnexpectedSymbol &&
      code != ieMissingParenthesis && code != ieUndefinedVariable)
    std::abort();
  const auto& program = engine.Program();
  if (program.empty() || program.back().kind != 0) std::abort();
  const double result = engine.Evaluate();
  if (code != ieOk) {
    if (std::bit_cast<std::uint64_t>(result) != ~std::uint64_t{0}) std::abort();
    return 0;
  }
  // Postfix: every operator finds two operands, and one value is left.
  long depth = 0;
  for (size_t i = 0; i + 1 < program.size(); ++i) {
    const char kind = program[i].kind;
    if (kind == 'I' || kind == 'N') ++depth;
    else if (kind == '+' || kind == '-' || kind == '*' || kind == '/' || kind == '^') {
      if (depth < 2) std::abort();
      --depth;
    } else {
      std::abort();
    }
  }
  if (depth != 1) std::abort();
  return 0;
}
