#include "TestPlugins.h"
VK_DECLARE_PLUGIN_PACKAGE(TTestBadRegister)
