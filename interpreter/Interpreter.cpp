#include "Interpreter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>

namespace {

// What a row of the recogniser's table does after matching.
enum EAction : char { acNone, acOperand, acEmit, acAccept, acError, acParenError };

struct CRow {
  int state;
  const char* pattern;      // '&' matches any symbol; the last character is the top
  const char* replacement;  // null: the stack stays as it is
  bool read;
  EAction action;
  int argument;             // the operator to emit or the error code
  int next;
};

// The shift-reduce table. Within a state the first matching row is taken.
constexpr CRow kRows[] = {
    {1, "!", nullptr, true, acNone, 0, 2},
    {2, "I", "G", true, acOperand, 0, 3},
    {2, "N", "G", true, acOperand, 0, 3},
    {2, "(", nullptr, true, acNone, 0, 2},
    {2, "&", nullptr, false, acError, ieExpectingExpression, 0},
    {3, "M^G&", "M&", false, acEmit, '^', 4},
    {3, "G&", "M&", false, acNone, 0, 4},
    {4, "M^", nullptr, true, acNone, 0, 2},
    {4, "T*M&", "T&", false, acEmit, '*', 5},
    {4, "T/M&", "T&", false, acEmit, '/', 5},
    {4, "M&", "T&", false, acNone, 0, 5},
    {5, "T*", nullptr, true, acNone, 0, 2},
    {5, "T/", nullptr, true, acNone, 0, 2},
    {5, "B+T&", "B&", false, acEmit, '+', 6},
    {5, "B-T&", "B&", false, acEmit, '-', 6},
    {5, "T&", "B&", false, acNone, 0, 6},
    {6, "!B!", "AB", false, acAccept, 0, 0},
    {6, "B+", nullptr, true, acNone, 0, 2},
    {6, "B-", nullptr, true, acNone, 0, 2},
    {6, "(B)", "G", true, acNone, 0, 3},
    {6, "&", nullptr, false, acParenError, 0, 0},
};

constexpr char kSentinel = '!';

bool IsLetter(unsigned char c) {
  // Cyrillic А..я are 0xC0..0xFF in code page 1251; Ё and ё lie outside.
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0xC0;
}
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

bool Matches(const std::vector<CSymbol>& stack, const char* pattern) {
  const size_t length = std::char_traits<char>::length(pattern);
  if (length > stack.size()) return false;
  const CSymbol* top = stack.data() + stack.size() - length;
  for (size_t i = 0; i < length; ++i)
    if (pattern[i] != '&' && pattern[i] != top[i].kind) return false;
  return true;
}

// The decimal value of digits[.digits]. A value too large for a double is
// infinity (as the C library's conversion gives), one too small is zero.
double NumberValue(const char* first, const char* last) {
  double value = 0.0;
  const auto result = std::from_chars(first, last, value, std::chars_format::fixed);
  if (result.ec == std::errc::result_out_of_range) {
    value = 0.0;
    for (const char* p = first; p != last && *p != '.'; ++p)
      if (*p != '0') return HUGE_VAL;
  }
  return value;
}

struct CErrorTexts {
  const char* russian;
  const char* english;
};

constexpr CErrorTexts kErrorTexts[] = {
    {"ОК", "OK"},
    {"Ошибка синтаксиса", "Syntax error"},
    {"Ожидается выражение", "Expecting expression"},
    {"Неизвестный символ", "Unknown symbol"},
    {"Ошибка синтаксиса", "Syntax error"},
    {"Неожиданный символ", "Unexpected symbol"},
    {"Пропущена закрывающая скобка", "Expected \")\""},
    {"Неопределённая переменная", "Undefined variable"},
};

}  // namespace

CInterpreter::CInterpreter() {
  evalStack_.resize(10);
  program_.push_back({0, 0.0});
}

int CInterpreter::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < names_.size(); ++i)
    if (names_[i] == name) return static_cast<int>(i);
  return -1;
}

int CInterpreter::Declare(std::string_view name) {
  const int index = IndexOf(name);
  if (index >= 0) return index;
  names_.emplace_back(name);
  values_.push_back(0.0);
  return static_cast<int>(values_.size() - 1);
}

bool CInterpreter::SetValue(std::string_view name, double value) {
  const int index = IndexOf(name);
  if (index < 0) return false;
  values_[static_cast<size_t>(index)] = value;
  return true;
}

double CInterpreter::Value(int index) const {
  return index >= 0 && index < VariableCount() ? values_[static_cast<size_t>(index)] : 0.0;
}

const char* CInterpreter::ErrorText(int code, ELanguage language) {
  if (code < 0 || code >= static_cast<int>(std::size(kErrorTexts))) return "";
  return language == lngEnglish ? kErrorTexts[code].english : kErrorTexts[code].russian;
}

const char* CInterpreter::ErrorText() const { return ErrorText(code_, lngRussian); }

// Reads the token at `pos` of the caller's text (the position just past it is
// the trailing sentinel) and pushes it. False when an identifier names no
// declared variable.
bool CInterpreter::ReadToken(std::string_view text, size_t& pos) {
  if (pos >= text.size()) {
    pos = text.size() + 1;
    stack_.push_back({kSentinel, 0.0});
    return true;
  }
  const size_t start = pos;
  const auto c = static_cast<unsigned char>(text[pos]);
  if (IsLetter(c)) {
    while (pos < text.size()) {
      const auto d = static_cast<unsigned char>(text[pos]);
      if (!IsLetter(d) && !IsDigit(d) && d != '.') break;
      ++pos;
    }
    const int index = IndexOf(text.substr(start, pos - start));
    if (index < 0) return false;
    stack_.push_back({'I', static_cast<double>(index)});
  } else if (IsDigit(c)) {
    while (pos < text.size() && IsDigit(static_cast<unsigned char>(text[pos]))) ++pos;
    if (pos < text.size() && text[pos] == '.') {
      ++pos;
      while (pos < text.size() && IsDigit(static_cast<unsigned char>(text[pos]))) ++pos;
    }
    stack_.push_back({'N', NumberValue(text.data() + start, text.data() + pos)});
  } else {
    ++pos;
    stack_.push_back({static_cast<char>(c), 0.0});
  }
  return true;
}

// Ends a compilation: the end item, the code, and for a good program its
// steps. The postfix program is run once here on a stack of operand
// locations instead of values, which leaves Evaluate only the arithmetic.
int CInterpreter::Finish(int code) {
  program_.push_back({0, 0.0});
  if (code != ieOk) return code_ = code;
  size_t depth = 0, deepest = 0;
  for (const CSymbol& item : program_) {
    if (item.kind == 'I' || item.kind == 'N') deepest = std::max(deepest, ++depth);
    else if (item.kind != 0) --depth;
  }
  if (evalStack_.size() < deepest) evalStack_.resize(deepest);

  std::vector<const double*> operands;
  operands.reserve(deepest);
  for (const CSymbol& item : program_) {
    if (item.kind == 'I') {
      operands.push_back(&values_[static_cast<size_t>(item.value)]);
    } else if (item.kind == 'N') {
      operands.push_back(&item.value);
    } else if (item.kind != 0) {
      const double* right = operands.back();
      operands.pop_back();
      const double* left = operands.back();
      double* slot = &evalStack_[operands.size() - 1];
      steps_.push_back({item.kind, slot, left, right});
      operands.back() = slot;
    }
  }
  result_ = operands.back();
  return code_ = ieOk;  // only now: a step list cut short by an exception is never run
}

int CInterpreter::Compile(std::string_view text) {
  program_.clear();
  steps_.clear();
  result_ = nullptr;
  code_ = kNotCompiled;
  stack_.clear();
  stack_.push_back({kSentinel, 0.0});
  size_t pos = 0;
  int state = 1;
  for (;;) {
    const CRow* row = nullptr;
    for (const CRow& r : kRows)
      if (r.state == state && Matches(stack_, r.pattern)) {
        row = &r;
        break;
      }
    if (!row) return Finish(ieSyntax);  // not reachable with this table

    const CSymbol remembered = stack_.back();
    if (row->replacement) {
      stack_.resize(stack_.size() - std::char_traits<char>::length(row->pattern));
      for (const char* r = row->replacement; *r; ++r)
        stack_.push_back(*r == '&' ? remembered : CSymbol{*r, 0.0});
    }
    if (row->read && !ReadToken(text, pos)) return Finish(ieUndefinedVariable);

    switch (row->action) {
      case acNone:
        break;
      case acOperand:
        program_.push_back(remembered);
        break;
      case acEmit:
        program_.push_back({static_cast<char>(row->argument), 0.0});
        break;
      case acAccept:
        return Finish(ieOk);
      case acError:
        return Finish(row->argument);
      case acParenError:
        return Finish(stack_.size() >= 3 && stack_[stack_.size() - 3].kind == '('
                          ? ieMissingParenthesis
                          : ieUnexpectedSymbol);
    }
    state = row->next;
  }
}

double CInterpreter::Evaluate() noexcept {
  if (code_ != ieOk) return kInterpreterNaN;
  for (const CStep* step = steps_.data(), *end = step + steps_.size(); step != end; ++step) {
    const double left = *step->left, right = *step->right;
    switch (step->kind) {
      case '+':
        *step->result = left + right;
        break;
      case '-':
        *step->result = left - right;
        break;
      case '*':
        *step->result = left * right;
        break;
      case '/':
        if (right == 0.0) return kInterpreterNaN;
        *step->result = left / right;
        break;
      default:  // '^'
        *step->result = std::pow(left, right);
        break;
    }
  }
  return *result_;
}
