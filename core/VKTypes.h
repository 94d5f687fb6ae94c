#pragma once
// Basic types shared by every deliverable.
#include <string>

// 8-bit text that crosses the interfaces between deliverables: UTF-8 on this
// platform.
using AnsiString = std::string;
