#include "Object.h"

#include <cxxabi.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "VKXml.h"

template class CMetaClassTemplate<CObject>;

std::vector<CMetaClass> CClassFactory::MetaClasses;

namespace vkcore {

std::string BareTypeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  std::string name = (status == 0 && demangled) ? demangled.get() : type.name();
  // Drop namespaces and enclosing classes, but not the ones inside template
  // arguments.
  int depth = 0;
  std::string::size_type start = 0;
  for (std::string::size_type i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c == '<' || c == '(') ++depth;
    else if (c == '>' || c == ')') --depth;
    else if (depth == 0 && c == ':' && i + 1 < name.size() && name[i + 1] == ':') {
      start = i + 2;
      ++i;
    }
  }
  return name.substr(start);
}

const char* InternedTypeName(const std::type_info& type) {
  static std::mutex mutex;
  static std::unordered_map<std::string, std::unique_ptr<std::string>> names;
  std::lock_guard<std::mutex> lock(mutex);
  std::unique_ptr<std::string>& name = names[type.name()];
  if (!name) name = std::make_unique<std::string>(BareTypeName(type));
  return name->c_str();
}

}  // namespace vkcore

CMetaClass CObject::MetaClass() const { return CClassFactory::FindMetaClass(TypeInfo()); }

const char* CObject::ClassName() const {
  // The registry's descriptors live as long as the library, so the name
  // pointer of the registered entry stays valid.
  for (const CMetaClass& m : CClassFactory::MetaClasses)
    if (m.TypeInfo() == TypeInfo()) return m.ClassName();
  static const CMetaClassTemplate<CObject> objectMeta;
  return objectMeta.ClassName();
}

const std::type_info& CObject::TypeInfo() const { return typeid(*this); }

int CSerializableObject::SerializeData(xmlNode*) { return -1; }
int CSerializableObject::DeserializeData(xmlNode*) { return -1; }

int CSerializableObject::Deserialize(xmlNode* element) {
  AnsiString cls = VKCore::GetNodeStringValue(element, "@class", "");
  if (cls != ClassName()) return 0;
  return DeserializeData(element);
}

CMetaClass::CMetaClass(CBaseMetaClass* metaClass)
    : metaClass_(metaClass ? metaClass : new CMetaClassTemplate<CObject>()) {}

CMetaClass::CMetaClass(const CMetaClass& other) : metaClass_(other.metaClass_->CreateMetaClass()) {}

CMetaClass::CMetaClass(const CMetaClass* other)
    : metaClass_(other ? other->metaClass_->CreateMetaClass() : new CMetaClassTemplate<CObject>()) {}

CMetaClass::~CMetaClass() { delete metaClass_; }

CMetaClass& CMetaClass::operator=(CBaseMetaClass* metaClass) {
  if (metaClass == metaClass_) return *this;
  delete metaClass_;
  metaClass_ = metaClass ? metaClass : new CMetaClassTemplate<CObject>();
  return *this;
}

CMetaClass& CMetaClass::operator=(const CMetaClass& other) {
  if (&other == this) return *this;
  CBaseMetaClass* clone = other.metaClass_->CreateMetaClass();
  delete metaClass_;
  metaClass_ = clone;
  return *this;
}

bool CMetaClass::operator==(const CMetaClass& other) const {
  return metaClass_->TypeInfo() == other.metaClass_->TypeInfo();
}

void CClassFactory::RegisterClass(const CMetaClass& metaClass) { MetaClasses.push_back(metaClass); }

CMetaClass CClassFactory::FindMetaClass(const std::type_info& type) {
  for (const CMetaClass& m : MetaClasses)
    if (m.TypeInfo() == type) return m;
  return CMetaClass();
}

CMetaClass CClassFactory::FindMetaClass(const char* name) {
  if (name)
    for (const CMetaClass& m : MetaClasses)
      if (std::strcmp(m.ClassName(), name) == 0) return m;
  return CMetaClass();
}

CObject* CClassFactory::Create(const char* name) {
  CObject* object = FindMetaClass(name).Create();
  return object ? object : new CObject();
}

CSerializableObject* CClassFactory::Create(xmlNode* element) {
  AnsiString name = VKCore::GetNodeStringValue(element, "@class", "");
  CObject* object = Create(name.c_str());
  auto* serializable = dynamic_cast<CSerializableObject*>(object);
  if (!serializable) {
    delete object;
    return nullptr;
  }
  serializable->Deserialize(element);
  return serializable;
}
