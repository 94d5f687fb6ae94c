// A shared module that is no plug-in package: it exports no GetClass.
extern "C" __attribute__((visibility("default"))) int NotGetClass() { return 1; }
