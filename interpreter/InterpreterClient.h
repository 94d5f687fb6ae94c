#pragma once
// Creating an interpreter object the way its callers do (LinkCore users):
// on failure the user sees the warning about the unregistered class and the
// caller goes on without an interpreter.
#include "interpreter/KorvanInterpreter.h"
#include "platform/Report.h"

inline constexpr char kInterpreterNotRegisteredText[] =
    "Класс \"KorvanInterpreter.Interpreter\" не зарегестрирован. \n "
    "Необходимо переустановить программное обеспечение.";

// A new interpreter object (one reference), or null after the warning.
inline IInterpreter* CreateInterpreter() {
  IInterpreter* interpreter = nullptr;
  if (FAILED(CoCreateInstance(CLSID_Interpreter, nullptr, CLSCTX_INPROC_SERVER, IID_IInterpreter,
                              reinterpret_cast<void**>(&interpreter)))) {
    vkplatform::MessageBox(kInterpreterNotRegisteredText, "Ошибка", vkplatform::MsgIcon::Warning);
    return nullptr;
  }
  return interpreter;
}
