// Opens the user's configuration (seeding it from the installed default on a
// fresh account), registers the packet classes, creates packets by class name
// from XML, copies them, writes them back into a document and a matrix file,
// and says where the output went.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <memory>

#include "Diagnostics.h"
#include "PacketTypes.h"
#include "VKPaths.h"
#include "VKXml.h"

namespace {

bool SeedConfig() {
  const QString config = QString::fromStdString(GetConfigFileName());
  if (QFileInfo::exists(config)) return true;
  const QString seed = QString::fromStdString(GetVKDir(dirApplication) + "/data/config.xml");
  QDir().mkpath(QFileInfo(config).absolutePath());
  return QFile::copy(seed, config);
}

const char* kSample = R"(<?xml version="1.0" encoding="UTF-8"?>
<packets>
  <packet class="CDoublePacket" value="2.5"/>
  <packet class="CStringPacket" value="Привет, прибор"/>
  <packet class="CDoubleVector" vector="1 2.5 0.125 3.14159265"/>
  <packet class="CDoubleMatrix"><column vector="1 2 3"/><column vector="4.5 5 6"/></packet>
  <packet class="CUnknownThing"/>
</packets>)";

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QString outDir = QDir::currentPath() + "/vk-out";
  const QStringList args = app.arguments();
  for (int i = 1; i + 1 < args.size(); ++i)
    if (args[i] == "--out") outDir = args[i + 1];
  QDir().mkpath(outDir);

  SeedConfig();
  VKCore::CXMLDocument config(true);
  if (config.Open(GetConfigFileName().c_str()) != 0) return 1;
  std::printf("Configuration: %s\n", config.GetFileName().c_str());
  std::vector<xmlNode*> groups;
  VKCore::SelectNodes(config.Root(), "/Vektra/AddressList/Group", groups);
  for (xmlNode* g : groups)
    std::printf("  device type %s: last address \"%s\"\n",
                VKCore::GetNodeStringValue(g, "@Type", "").c_str(),
                VKCore::GetNodeStringValue(g, "@LastHost", "").c_str());

  RegisterPacketTypes();

  VKCore::CXMLDocument in(false);
  in.OpenFromText(kSample);
  VKCore::CXMLDocument out(false);
  out.New("packets", "UTF-8");
  std::vector<xmlNode*> nodes;
  VKCore::SelectNodes(in.Root(), "packet", nodes);
  for (xmlNode* node : nodes) {
    std::unique_ptr<CSerializableObject> obj(CClassFactory::Create(node));
    const AnsiString cls = VKCore::GetNodeStringValue(node, "@class", "");
    auto* pkt = dynamic_cast<CBasePacket*>(obj.get());
    if (!pkt) {
      std::printf("  %-16s -> not a packet class, skipped\n", cls.c_str());
      continue;
    }
    std::unique_ptr<CBasePacket> copy(pkt->CopyPacket());
    xmlNode* e = VKCore::AddElement(out.Root(), "packet");
    VKCore::AddAttribute(e, "class", copy->ClassName());
    if (auto* d = dynamic_cast<CDoublePacket*>(copy.get())) VKCore::AddAttribute(e, "value", d->GetValue());
    if (auto* s = dynamic_cast<CStringPacket*>(copy.get())) VKCore::AddAttribute(e, "value", s->GetString());
    copy->Serialize(e);
    std::printf("  %-16s -> created, copied, written back\n", copy->ClassName());
    if (auto* m = dynamic_cast<CDoubleMatrix*>(copy.get())) {
      const std::string matrixFile = (outDir + "/matrix.txt").toStdString();
      m->SaveToFile(matrixFile);
      std::printf("  matrix %ux%u saved to %s\n", m->Rows(), m->Columns(), matrixFile.c_str());
    }
  }
  const std::string outFile = (outDir + "/packets.xml").toStdString();
  if (out.SaveAs(outFile.c_str()) != 0) {
    std::fprintf(stderr, "Cannot write %s\n", outFile.c_str());
    return 1;
  }
  std::printf("Packets written to %s\n", outFile.c_str());
  return 0;
}
