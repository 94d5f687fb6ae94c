#pragma once
// The run-time class system of packets: class descriptors, the value handle
// that owns one descriptor, and the process-wide registry that creates
// objects by class name.
#include <libxml/tree.h>

#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "VKTypes.h"

class CMetaClass;

class CObject {
 public:
  CObject() = default;
  virtual CMetaClass MetaClass() const;
  // The registered name of the object's class; "CObject" for a class that was
  // never registered.
  virtual const char* ClassName() const;
  virtual const std::type_info& TypeInfo() const;
  virtual ~CObject() = default;
};

class CReplicableObject : public virtual CObject {
 public:
  virtual CReplicableObject* Copy() const = 0;
  static CReplicableObject* Copy(const CReplicableObject* object) {
    return object ? object->Copy() : nullptr;
  }
  ~CReplicableObject() override = default;
};

class CSerializableObject : public virtual CObject {
 public:
  // Writes / reads the class's own data to / from `element`. The defaults do
  // nothing and return -1.
  virtual int SerializeData(xmlNode* element);
  virtual int DeserializeData(xmlNode* element);
  ~CSerializableObject() override = default;

  // Writes the object's data; no class attribute is written.
  int Serialize(xmlNode* element) { return SerializeData(element); }
  // Reads the object's data when the element's "class" attribute names this
  // object's class; otherwise returns 0 and leaves the object unchanged.
  int Deserialize(xmlNode* element);
};

namespace vkcore {
// The bare class name of a type: the compiler's name with namespaces and
// decorations removed ("CDoublePacket").
std::string BareTypeName(const std::type_info& type);
// The same name kept for the life of the process; the pointer stays valid.
// (Names live here rather than in a static of each template instance: such
// statics would be unique symbols that keep a plug-in package from ever
// being unloaded.)
const char* InternedTypeName(const std::type_info& type);
}  // namespace vkcore

// A stateless descriptor of one class.
class CBaseMetaClass {
 public:
  // Descriptors are deleted through this base; the destructor is virtual so
  // that doing so is well defined.
  virtual ~CBaseMetaClass() = default;
  virtual const char* ClassName() const = 0;
  virtual const std::type_info& TypeInfo() const = 0;
  virtual CObject* Create() const = 0;
  virtual CBaseMetaClass* CreateMetaClass() const = 0;
  virtual bool Inherit(const CBaseMetaClass* other) const = 0;
};

template <class T>
class CMetaClassTemplate : public CBaseMetaClass {
 public:
  const char* ClassName() const override { return vkcore::InternedTypeName(typeid(T)); }
  const std::type_info& TypeInfo() const override { return typeid(T); }
  CObject* Create() const override {
    if constexpr (std::is_abstract_v<T> || !std::is_default_constructible_v<T>) {
      return nullptr;
    } else {
      return static_cast<CObject*>(new T());
    }
  }
  CBaseMetaClass* CreateMetaClass() const override { return new CMetaClassTemplate<T>(); }
  // Whether an object of the other class is a T: the other descriptor creates
  // a temporary object which is tested and destroyed.
  bool Inherit(const CBaseMetaClass* other) const override {
    if (!other) return false;
    CObject* object = other->Create();
    bool result;
    if constexpr (std::is_same_v<T, CObject>) {
      result = object != nullptr;
    } else {
      result = dynamic_cast<T*>(object) != nullptr;
    }
    delete object;
    return result;
  }
};

extern template class CMetaClassTemplate<CObject>;

// A value that owns exactly one descriptor; the absence of a class is the
// CObject descriptor.
class CMetaClass {
 public:
  explicit CMetaClass(CBaseMetaClass* metaClass = nullptr);
  CMetaClass(const CMetaClass& other);
  explicit CMetaClass(const CMetaClass* other);
  ~CMetaClass();

  CMetaClass& operator=(CBaseMetaClass* metaClass);
  CMetaClass& operator=(const CMetaClass& other);
  // Exact class match: a derived class is not equal to its base.
  bool operator==(const CMetaClass& other) const;
  bool operator!=(const CMetaClass& other) const { return !(*this == other); }

  const char* ClassName() const { return metaClass_->ClassName(); }
  const std::type_info& TypeInfo() const { return metaClass_->TypeInfo(); }
  CObject* Create() const { return metaClass_->Create(); }
  // Whether objects of `other`'s class are objects of this class.
  bool Inherit(const CMetaClass& other) const { return metaClass_->Inherit(other.metaClass_); }

 private:
  CBaseMetaClass* metaClass_;
};

// Convenience: a handle describing T.
template <class T>
CMetaClass MetaClassOf() {
  return CMetaClass(new CMetaClassTemplate<T>());
}

// The process-wide registry. Written at start-up on the main thread, read
// from any thread afterwards.
class CClassFactory {
 public:
  CClassFactory() = default;
  static std::vector<CMetaClass> MetaClasses;

  // Appends a copy; no duplicate check (lookups find the first entry).
  static void RegisterClass(const CMetaClass& metaClass);
  static CMetaClass FindMetaClass(const std::type_info& type);
  static CMetaClass FindMetaClass(const char* name);
  // A new object of the named class; a plain CObject for an unknown name.
  static CObject* Create(const char* name);
  // A new object of the class named by the element's "class" attribute, read
  // from the element; null when that class is not serializable.
  static CSerializableObject* Create(xmlNode* element);
};
