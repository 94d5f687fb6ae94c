#pragma once
#include <string>

// The private home folder of this test process (made by the test main).
const std::string& TestHome();
