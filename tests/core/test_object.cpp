// The run-time class system: descriptors, handles, the registry and the
// class check of XML reading.
#include <memory>
#include <typeinfo>

#include "CoreTestSupport.h"
#include "DevCommand.h"
#include "Object.h"
#include "PacketTypes.h"
#include "VKXml.h"
#include "platform/Report.h"

namespace {

using vktest::XmlDoc;

// Packet classes the library knows nothing about.
class NeverRegisteredPacket : public CDoublePacket {};
class TwiceRegisteredPacket : public CDoublePacket {};

class ObjectModel : public testing::Test {
 protected:
  void SetUp() override { vktest::EnsurePacketTypes(); }
};

TEST_F(ObjectModel, ClassNamesAreTheBareNames) {
  EXPECT_STREQ(CDoublePacket().ClassName(), "CDoublePacket");
  EXPECT_STREQ(CStringPacket().ClassName(), "CStringPacket");
  EXPECT_STREQ(CDataBlock().ClassName(), "CDataBlock");
  EXPECT_STREQ(CDoubleVector().ClassName(), "CDoubleVector");
  EXPECT_STREQ(CDoubleVectorPart().ClassName(), "CDoubleVectorPart");
  EXPECT_STREQ(CDoubleMatrix().ClassName(), "CDoubleMatrix");
  EXPECT_STREQ(CObject().ClassName(), "CObject");
  EXPECT_STREQ(CDevCommand().ClassName(), "CDevCommand");
  EXPECT_STREQ(CDevParameter().ClassName(), "CObject");  // never registered
  // Descriptors give the same names, registered or not.
  EXPECT_STREQ(MetaClassOf<CDoubleVectorPart>().ClassName(), "CDoubleVectorPart");
  EXPECT_STREQ(MetaClassOf<NeverRegisteredPacket>().ClassName(), "NeverRegisteredPacket");
  EXPECT_STREQ(CMetaClass().ClassName(), "CObject");

  // The registry holds the packet classes in their fixed order.
  const char* expected[] = {"CStringPacket",     "CDataBlock",    "CDevCommand",  "CDoubleVector",
                            "CDoubleVectorPart", "CDoubleMatrix", "CDoublePacket"};
  ASSERT_GE(CClassFactory::MetaClasses.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i)
    EXPECT_STREQ(CClassFactory::MetaClasses[i].ClassName(), expected[i]) << i;
}

TEST_F(ObjectModel, FindMetaClassMatchesExactly) {
  EXPECT_EQ(CClassFactory::FindMetaClass("CDoubleVector"), MetaClassOf<CDoubleVector>());
  EXPECT_EQ(CClassFactory::FindMetaClass(typeid(CDoubleMatrix)), MetaClassOf<CDoubleMatrix>());
  EXPECT_EQ(CDoubleVectorPart().MetaClass(), MetaClassOf<CDoubleVectorPart>());
  EXPECT_NE(CDoubleVectorPart().MetaClass(), MetaClassOf<CDoubleVector>());

  // Names match whole and case-sensitively; anything else is "CObject".
  for (const char* name : {"cdoublepacket", "CDouble", "CDoublePacket ", "", "NoSuchClass"}) {
    CMetaClass found = CClassFactory::FindMetaClass(name);
    EXPECT_STREQ(found.ClassName(), "CObject") << name;
    EXPECT_EQ(found, MetaClassOf<CObject>()) << name;
  }
  EXPECT_STREQ(CClassFactory::FindMetaClass(static_cast<const char*>(nullptr)).ClassName(),
               "CObject");
  EXPECT_STREQ(CClassFactory::FindMetaClass(typeid(NeverRegisteredPacket)).ClassName(), "CObject");
  NeverRegisteredPacket unregistered;
  EXPECT_STREQ(unregistered.ClassName(), "CObject");
  EXPECT_EQ(unregistered.MetaClass(), MetaClassOf<CObject>());
}

TEST_F(ObjectModel, CreateByNameGivesDefaultObjects) {
  vkplatform::ReportCapture cap;
  std::unique_ptr<CObject> unknown(CClassFactory::Create("NoSuchClass"));
  ASSERT_NE(unknown, nullptr);
  EXPECT_EQ(typeid(*unknown), typeid(CObject));

  std::unique_ptr<CObject> o(CClassFactory::Create("CDoublePacket"));
  ASSERT_NE(dynamic_cast<CDoublePacket*>(o.get()), nullptr);
  EXPECT_EQ(dynamic_cast<CDoublePacket*>(o.get())->GetValue(), 0.0);
  o.reset(CClassFactory::Create("CStringPacket"));
  ASSERT_NE(dynamic_cast<CStringPacket*>(o.get()), nullptr);
  EXPECT_STREQ(dynamic_cast<CStringPacket*>(o.get())->GetString(), "");
  o.reset(CClassFactory::Create("CDoubleVectorPart"));
  ASSERT_NE(dynamic_cast<CDoubleVectorPart*>(o.get()), nullptr);
  EXPECT_EQ(cap.Count(), 0u);
}

TEST_F(ObjectModel, CreateFromElement) {
  XmlDoc doc(
      "<r><none/><d class='CDoublePacket' value='3'/><o class='CObject'/>"
      "<u class='Unknown' value='3'/><v class='CDoubleVector' vector='1 2'/></r>");
  // Without a serializable class there is nothing to read into.
  EXPECT_EQ(CClassFactory::Create(doc.child("none")), nullptr);
  EXPECT_EQ(CClassFactory::Create(doc.child("o")), nullptr);
  EXPECT_EQ(CClassFactory::Create(doc.child("u")), nullptr);

  std::unique_ptr<CSerializableObject> d(CClassFactory::Create(doc.child("d")));
  ASSERT_NE(dynamic_cast<CDoublePacket*>(d.get()), nullptr);
  EXPECT_EQ(dynamic_cast<CDoublePacket*>(d.get())->GetValue(), 3.0);

  std::unique_ptr<CSerializableObject> v(CClassFactory::Create(doc.child("v")));
  ASSERT_NE(dynamic_cast<CDoubleVector*>(v.get()), nullptr);
  EXPECT_EQ(dynamic_cast<CDoubleVector*>(v.get())->Size(), 2u);
}

TEST_F(ObjectModel, DeserializeChecksTheClassAttribute) {
  XmlDoc doc(
      "<r><vec class='CDoubleVector' value='3'/><none value='3'/>"
      "<lower class='cdoublepacket' value='3'/><ok class='CDoublePacket' value='3'/></r>");
  CDoublePacket p(5);
  for (const char* name : {"vec", "none", "lower"}) {
    EXPECT_EQ(p.Deserialize(doc.child(name)), 0) << name;
    EXPECT_EQ(p.GetValue(), 5.0) << name;
  }
  EXPECT_EQ(p.Deserialize(doc.child("ok")), 0);
  EXPECT_EQ(p.GetValue(), 3.0);

  // Serialize writes no class attribute, so its element is accepted only
  // once the attribute is added.
  std::unique_ptr<CDoubleVector> v(vktest::NewVector({1, 2}));
  xmlNode* e = VKCore::AddElement(doc.root(), "written");
  EXPECT_EQ(v->Serialize(e), 0);
  EXPECT_EQ(vktest::Attr(e, "class"), "<none>");
  CDoubleVector back;
  back.Deserialize(e);
  EXPECT_EQ(back.Size(), 0u);
  VKCore::AddAttribute(e, "class", "CDoubleVector");
  back.Deserialize(e);
  EXPECT_EQ(back.Size(), 2u);
}

TEST_F(ObjectModel, MetaClassHandlesAreIndependentValues) {
  auto first = std::make_unique<CMetaClass>(MetaClassOf<CDoubleVector>());
  CMetaClass copy(*first);
  CMetaClass fromPointer(first.get());
  CMetaClass assigned;
  assigned = *first;
  EXPECT_EQ(copy, *first);
  EXPECT_EQ(fromPointer, *first);
  EXPECT_EQ(assigned, *first);
  first.reset();  // the copies own their own descriptors
  for (const CMetaClass* h : {&copy, &fromPointer, &assigned}) {
    EXPECT_STREQ(h->ClassName(), "CDoubleVector");
    std::unique_ptr<CObject> o(h->Create());
    EXPECT_NE(dynamic_cast<CDoubleVector*>(o.get()), nullptr);
  }
  assigned = new CMetaClassTemplate<CDoubleMatrix>();
  EXPECT_STREQ(assigned.ClassName(), "CDoubleMatrix");
  EXPECT_STREQ(CMetaClass(static_cast<const CMetaClass*>(nullptr)).ClassName(), "CObject");
}

TEST_F(ObjectModel, InheritFollowsTheClassTree) {
  vkplatform::ReportCapture cap;
  const CMetaClass vec = MetaClassOf<CDoubleVector>(), part = MetaClassOf<CDoubleVectorPart>();
  EXPECT_TRUE(vec.Inherit(part));  // a vector part is a vector
  EXPECT_FALSE(part.Inherit(vec));
  EXPECT_TRUE(vec.Inherit(vec));
  EXPECT_NE(vec, part);
  EXPECT_TRUE(MetaClassOf<CDataBlock>().Inherit(MetaClassOf<CStringPacket>()));
  EXPECT_FALSE(MetaClassOf<CStringPacket>().Inherit(MetaClassOf<CDataBlock>()));
  EXPECT_TRUE(MetaClassOf<CBasePacket>().Inherit(MetaClassOf<CDoubleMatrix>()));
  EXPECT_FALSE(MetaClassOf<CDoublePacket>().Inherit(MetaClassOf<CObject>()));
  EXPECT_TRUE(MetaClassOf<CObject>().Inherit(MetaClassOf<CDoublePacket>()));
  // The temporary objects are built with their default arguments silently.
  EXPECT_EQ(cap.Count(), 0u);
}

TEST_F(ObjectModel, RegisteringTwiceAddsTwoEntries) {
  const size_t before = CClassFactory::MetaClasses.size();
  EXPECT_STREQ(TwiceRegisteredPacket().ClassName(), "CObject");
  CClassFactory::RegisterClass(MetaClassOf<TwiceRegisteredPacket>());
  CClassFactory::RegisterClass(MetaClassOf<TwiceRegisteredPacket>());
  EXPECT_EQ(CClassFactory::MetaClasses.size(), before + 2);
  EXPECT_EQ(CClassFactory::FindMetaClass("TwiceRegisteredPacket"),
            MetaClassOf<TwiceRegisteredPacket>());
  EXPECT_STREQ(TwiceRegisteredPacket().ClassName(), "TwiceRegisteredPacket");
  std::unique_ptr<CObject> o(CClassFactory::Create("TwiceRegisteredPacket"));
  EXPECT_EQ(typeid(*o), typeid(TwiceRegisteredPacket));
}

}  // namespace
