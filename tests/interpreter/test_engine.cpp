// The expression engine: values against hand-computed results, compile codes
// of malformed text, binding by index, NaN results and stores that grow.
// (bench_interpreter counts the allocations of an evaluation.)
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>

#include "interpreter/Interpreter.h"
#include "platform/TextCodec.h"

namespace {

// Test texts are written in UTF-8; the engine reads code page 1251.
std::string W(const std::string& utf8) { return vkplatform::Utf8ToCp1251(utf8); }

bool IsAllBitsNaN(double v) { return std::bit_cast<std::uint64_t>(v) == ~std::uint64_t{0}; }

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::pair<const char*, double> variables[] = {
        {"a", 3}, {"b", 7}, {"а.арг", 3}, {"б.арг", 7}, {"x1.y2", 0.5}, {"X", 10}, {"x", 2}, {"z", 0}};
    for (const auto& [name, value] : variables) {
      engine.Declare(W(name));
      ASSERT_TRUE(engine.SetValue(W(name), value));
    }
  }
  CInterpreter engine;
};

TEST_F(Engine, ComputesWhatTheExpressionSays) {
  const std::string zeros(400, '0');
  const struct {
    const char* text;
    double expected;
  } cases[] = {
      {"1+2*3", 7},
      {"(1+2)*3", 9},
      {"1-2-3", -4},
      {"8/4/2", 1},
      {"2^3^2", 64},  // left-associative
      {"2*3^2", 18},
      {"2^3*2", 16},
      {"12-3*2^2/4+1", 10},
      {"3.14", 3.14},
      {"5.", 5},
      {"007.50", 7.5},
      {"0.1+0.2", 0.1 + 0.2},
      {"(а.арг-б.арг)^2^0.5", 4},  // the distance |a-b|
      {"x1.y2*X", 5},
      {"x*X", 20},  // names differ by case
      {"a/b*b", 3.0 / 7.0 * 7.0},
      {"((((a))))", 3},
      {"2^0.5", std::sqrt(2.0)},
      {"z^0", 1},
      {"1!2", 1},  // a '!' ends the expression
  };
  for (const auto& c : cases) {
    ASSERT_EQ(engine.Compile(W(c.text)), ieOk) << c.text;
    EXPECT_DOUBLE_EQ(engine.Evaluate(), c.expected) << c.text;
  }
  // Numbers beyond the double range.
  ASSERT_EQ(engine.Compile("1" + zeros), ieOk);
  EXPECT_EQ(engine.Evaluate(), std::numeric_limits<double>::infinity());
  ASSERT_EQ(engine.Compile("0." + zeros + "1"), ieOk);
  EXPECT_EQ(engine.Evaluate(), 0.0);
}

TEST_F(Engine, RefusesMalformedTextWithItsCode) {
  const struct {
    const char* text;
    int code;
  } cases[] = {
      {"", ieExpectingExpression},     {".5", ieExpectingExpression},
      {"-1", ieExpectingExpression},   {"2*-1", ieExpectingExpression},
      {"1+", ieExpectingExpression},   {"()", ieExpectingExpression},
      {"1^^2", ieExpectingExpression}, {"ёж", ieExpectingExpression},  // Ё, ё are no letters
      {"1 + 2", ieUnexpectedSymbol},   {"1+2)", ieUnexpectedSymbol},
      {"2(3)", ieUnexpectedSymbol},    {"1,5", ieUnexpectedSymbol},
      {"2x", ieUnexpectedSymbol},      {"(1))", ieUnexpectedSymbol},
      {"1.2.3", ieUnexpectedSymbol},   {"(1+2", ieMissingParenthesis},
      {"((1)", ieMissingParenthesis},  {"(a*(b", ieMissingParenthesis},
      {"q+1", ieUndefinedVariable},    {"1+(2+q", ieUndefinedVariable},  // before the syntax error
      {"2q", ieUndefinedVariable},     {"1e5", ieUndefinedVariable},
      {"Z", ieUndefinedVariable},      {"а.арг1", ieUndefinedVariable},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(engine.Compile(W(c.text)), c.code) << c.text;
    EXPECT_EQ(engine.ErrorCode(), c.code) << c.text;
    EXPECT_TRUE(IsAllBitsNaN(engine.Evaluate())) << c.text;
  }
  engine.Declare("e5");
  EXPECT_EQ(engine.Compile("1e5"), ieUnexpectedSymbol);

  EXPECT_STREQ(engine.ErrorText(), "Неожиданный символ");
  engine.Compile("(1");
  EXPECT_STREQ(engine.ErrorText(), "Пропущена закрывающая скобка");
  EXPECT_STREQ(CInterpreter::ErrorText(ieMissingParenthesis, lngEnglish), "Expected \")\"");
  EXPECT_STREQ(CInterpreter::ErrorText(ieUndefinedVariable, lngRussian), "Неопределённая переменная");
  EXPECT_STREQ(CInterpreter::ErrorText(8, lngEnglish), "");
}

TEST_F(Engine, EmitsPostfixWithVariablesBoundByIndex) {
  ASSERT_EQ(engine.Compile(W("(а.арг-б.арг)^2^0.5")), ieOk);
  std::string kinds;
  for (const CSymbol& item : engine.Program()) kinds += item.kind ? item.kind : '$';
  EXPECT_EQ(kinds, "II-N^N^$");
  EXPECT_EQ(engine.Program()[0].value, engine.IndexOf(W("а.арг")));
  EXPECT_EQ(engine.Program()[1].value, engine.IndexOf(W("б.арг")));
  EXPECT_EQ(engine.Program()[5].value, 0.5);

  // A failed compilation still ends its program.
  engine.Compile("1+");
  EXPECT_EQ(engine.Program().back().kind, 0);
}

TEST_F(Engine, VariablesKeepTheirIndexAndValues) {
  CInterpreter e;
  EXPECT_TRUE(IsAllBitsNaN(e.Evaluate()));  // nothing compiled yet
  EXPECT_EQ(e.Declare("v"), 0);
  ASSERT_EQ(e.Compile("v*2"), ieOk);
  // Later declarations move the table but not the compiled binding.
  for (int i = 0; i < 100; ++i) EXPECT_EQ(e.Declare("w" + std::to_string(i)), i + 1);
  EXPECT_TRUE(e.SetValue("v", 3));
  EXPECT_EQ(e.Evaluate(), 6);
  EXPECT_TRUE(e.SetValue("v", 4));
  EXPECT_EQ(e.Evaluate(), 8);

  EXPECT_EQ(e.Declare("v"), 0);  // again: same variable, value kept
  EXPECT_EQ(e.Value(0), 4);
  EXPECT_FALSE(e.SetValue("V", 1));
  EXPECT_EQ(e.VariableCount(), 101);

  // Values survive a failed and a new compilation.
  e.Compile("v+");
  ASSERT_EQ(e.Compile("v"), ieOk);
  EXPECT_EQ(e.Evaluate(), 4);
}

TEST_F(Engine, DivisionByZeroGivesTheAllBitsNaN) {
  for (const char* text : {"1/0", "a/z", "a/(z*(0-1))", "(1/z)*0", "0/0.000"}) {
    ASSERT_EQ(engine.Compile(text), ieOk) << text;
    EXPECT_TRUE(IsAllBitsNaN(engine.Evaluate())) << text;
  }
  // The power function's own special values pass through unchanged.
  ASSERT_EQ(engine.Compile("(z-8)^0.5"), ieOk);
  const double r = engine.Evaluate();
  EXPECT_TRUE(std::isnan(r));
  EXPECT_EQ(std::bit_cast<std::uint64_t>(r), std::bit_cast<std::uint64_t>(std::pow(-8.0, 0.5)));
}

// The stores grow with the expression: deep nesting, long chains and
// right-nested powers that keep many operands pending.
TEST_F(Engine, LongAndDeepExpressionsFitTheirStores) {
  const int n = 20000;
  std::string nested = std::string(n, '(') + "a" + std::string(n, ')');
  ASSERT_EQ(engine.Compile(nested), ieOk);
  EXPECT_EQ(engine.Evaluate(), 3);

  std::string chain = "2";
  for (int i = 0; i < n; ++i) chain += "^1";
  ASSERT_EQ(engine.Compile(chain), ieOk);
  EXPECT_EQ(engine.Evaluate(), 2);

  std::string rightPowers, rightSums;
  for (int i = 0; i < 3000; ++i) {
    rightPowers += "z^(";
    rightSums += "1+(";
  }
  rightPowers += "z" + std::string(3000, ')');
  rightSums += "1" + std::string(3000, ')');
  ASSERT_EQ(engine.Compile(rightPowers), ieOk);
  EXPECT_EQ(engine.Evaluate(), 0);  // 0^0 = 1, 0^1 = 0: an even depth gives 0
  ASSERT_EQ(engine.Compile(rightSums), ieOk);
  EXPECT_EQ(engine.Evaluate(), 3001);

  EXPECT_EQ(engine.Compile(std::string(n, '(') + "a"), ieMissingParenthesis);
  ASSERT_EQ(engine.Compile("a+b"), ieOk);  // a short one after the long ones
  EXPECT_EQ(engine.Evaluate(), 10);
}

}  // namespace
