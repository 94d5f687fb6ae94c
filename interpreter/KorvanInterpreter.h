#pragma once
// The interpreter component as its callers see it: identifiers and the
// IInterpreter interface. Objects are created with
//   CoCreateInstance(CLSID_Interpreter, nullptr, CLSCTX_INPROC_SERVER,
//                    IID_IInterpreter, reinterpret_cast<void**>(&p));
// (or CreateInterpreter of InterpreterClient.h, which warns when that fails).
#include "platform/Com.h"

inline constexpr CLSID CLSID_Interpreter = {
    0x0EFD62D7, 0x161E, 0x4787, {0xB0, 0xAA, 0x20, 0xE4, 0xBD, 0x0A, 0x3C, 0x61}};
inline constexpr IID IID_IInterpreter = {
    0xAB55DB7C, 0x66FC, 0x4558, {0x90, 0x00, 0xA7, 0xBD, 0x0C, 0xAA, 0xBB, 0x55}};
// The interpreter's type library (KorvanInterpreterLib 1.0) and application.
inline constexpr GUID LIBID_KorvanInterpreterLib = {
    0x12A73BA1, 0x646A, 0x41A2, {0xBC, 0x58, 0xC7, 0x8F, 0x1B, 0x50, 0x4B, 0x51}};
inline constexpr GUID APPID_KorvanInterpreter = {
    0x82F3E172, 0x573F, 0x49CB, {0xA1, 0xF4, 0x71, 0xCE, 0xE9, 0x3A, 0xA6, 0x8F}};

inline constexpr char kInterpreterProgID[] = "KorvanInterpreter.Interpreter.1";
inline constexpr char kInterpreterVersionIndependentProgID[] = "KorvanInterpreter.Interpreter";

// Strings are converted to code page 1251 before they reach the engine; a
// character that 1251 lacks becomes '?' and fails as an unexpected symbol.
class IInterpreter : public IUnknown {
 public:
  // Compiles the expression: S_OK, or the negated compile code (-2, -5, -6,
  // -7). Variables must be declared first.
  virtual HRESULT SetExpression(BSTR expression) = 0;
  // Declares a variable (value 0.0) unless it exists; S_OK.
  virtual HRESULT DeclareVariable(BSTR name) = 0;
  // S_OK, or -1 when no variable of that name is declared.
  virtual HRESULT SetVariableValue(BSTR name, double value) = 0;
  // S_OK with the value stored (the all-bits-set NaN after a failed
  // SetExpression or a division by zero); E_POINTER for a null `result`;
  // -1 when the evaluation failed, with nothing stored.
  virtual HRESULT Calculate(double* result) = 0;

 protected:
  ~IInterpreter() = default;
};
