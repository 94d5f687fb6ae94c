// A module with the counterpart link points of the instrument link, and no
// behaviour: tests send through its outputs and read its inputs themselves.
#include "TestPlugins.h"

class TTestProbe : public CBasePlugin {
 public:
  int Register() override {
    RegisterOutLinkPoint("address", {MetaClassOf<CStringPacket>()}, lptDefault);
    RegisterOutLinkPoint("command", {MetaClassOf<CDevCommand>()}, lptDefault);
    RegisterOutLinkPoint("index", {MetaClassOf<CDoublePacket>()}, lptDefault);
    RegisterInLinkPoint("message", {MetaClassOf<CStringPacket>()}, lptDefault);
    RegisterInLinkPoint("command", {MetaClassOf<CDevCommand>()}, lptDefault);
    RegisterInLinkPoint("index", {MetaClassOf<CDoublePacket>()}, lptDefault);
    for (const char* channel : {"F", "A", "B"})
      RegisterInLinkPoint(channel, {MetaClassOf<CDoubleVectorPart>()}, lptDefault);
    return 0;
  }
  int Initialize(QWidget*, xmlNode*) override { return 0; }
  int Finalize() override { return 0; }
};

VK_DECLARE_PLUGIN_PACKAGE(TTestProbe)
