#pragma once
// Numbers written to files (vectors in XML, matrix and trace files, the
// matrix editor's cells): the shortest text that reads back as the very same
// double, with a point whatever the locale.
//
// A value that six significant digits hold is written as a default-formatted
// stream writes it ("1.5", "100", "0.125", "1e-05", "1e+06", "inf", "nan"),
// so files of older versions and their readers see no change; any other value
// gets just the digits it needs ("749999.75", "1083.125", "0.1234567"),
// never a rounded one.
#include "VKTypes.h"

namespace vkcore {

void AppendExactNumber(AnsiString& out, double value);
AnsiString FormatExactNumber(double value);

}  // namespace vkcore
