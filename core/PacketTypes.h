#pragma once
// The data packets that travel on wires between plug-in modules.
#include <memory>
#include <vector>

#include "Object.h"

class CBasePacket : public CSerializableObject, public CReplicableObject, public virtual CObject {
 public:
  // A new copy of this packet (through Copy()); null, with a report, when the
  // copy is not a packet.
  virtual CBasePacket* CopyPacket() const;
  ~CBasePacket() override = default;
};

class CDoublePacket : public CBasePacket {
 public:
  explicit CDoublePacket(double value = 0.0);
  CReplicableObject* Copy() const override;
  virtual double GetValue() const { return value_; }
  virtual void SetValue(double value) { value_ = value; }
  int DeserializeData(xmlNode* element) override;

 private:
  double value_ = 0.0;
};

class CDataBlock : public CBasePacket {
 public:
  // An uninitialised block of `size` bytes.
  explicit CDataBlock(unsigned size = 0);
  // A block holding a copy of the other's bytes.
  explicit CDataBlock(const CDataBlock* other);
  CReplicableObject* Copy() const override;

  unsigned char* Block() { return block_.get(); }
  const unsigned char* Block() const { return block_.get(); }
  unsigned Size() const { return size_; }
  // Keeps the contents when the size is unchanged; otherwise a new,
  // uninitialised block (followed by one hidden zero byte, so that its bytes
  // always read as a terminated text). Returns 0.
  int SetBlockSize(unsigned size);

 private:
  std::unique_ptr<unsigned char[]> block_;
  unsigned size_ = 0;
};

class CStringPacket : public CDataBlock {
 public:
  explicit CStringPacket(const char* text = nullptr);
  explicit CStringPacket(const CDataBlock* other);
  CReplicableObject* Copy() const override;
  // Stores the text with its terminating zero; null stores the empty text.
  void SetString(const char* text);
  const char* GetString() const;
  int DeserializeData(xmlNode* element) override;
};

class CDoubleVector : public CBasePacket {
 public:
  explicit CDoubleVector(unsigned size = 0);
  CReplicableObject* Copy() const override;
  virtual unsigned Size() const { return size_; }
  virtual double* Data() { return data_.get(); }
  const double* Data() const { return data_.get(); }
  // Keeps the array when the size is unchanged; otherwise a new, uninitialised
  // array (none for 0).
  void SetSize(unsigned size);
  double& operator[](unsigned index) { return data_[index]; }
  const double& operator[](unsigned index) const { return data_[index]; }
  int SerializeData(xmlNode* element) override;
  int DeserializeData(xmlNode* element) override;

 protected:
  void CopyElementsFrom(const CDoubleVector& other);

 private:
  unsigned size_ = 0;
  std::unique_ptr<double[]> data_;
};

// A window of a longer vector: the values at offset .. offset + size - 1 of a
// whole vector of FullSize() values.
class CDoubleVectorPart : public CDoubleVector {
 public:
  // A full size of 0 stands for a full size equal to size.
  explicit CDoubleVectorPart(unsigned size = 0, unsigned fullSize = 0, unsigned offset = 0);
  CReplicableObject* Copy() const override;
  virtual unsigned FullSize() const { return fullSize_; }
  virtual unsigned Offset() const { return offset_; }
  virtual void SetFullSize(int fullSize) { fullSize_ = static_cast<unsigned>(fullSize); }
  virtual void SetOffset(int offset) { offset_ = static_cast<unsigned>(offset); }

 private:
  unsigned fullSize_ = 0;
  unsigned offset_ = 0;
};

// A matrix of doubles stored by columns; the matrix owns its columns.
class CDoubleMatrix : public CBasePacket {
 public:
  CDoubleMatrix() = default;
  ~CDoubleMatrix() override;
  CDoubleMatrix(const CDoubleMatrix&) = delete;
  CDoubleMatrix& operator=(const CDoubleMatrix&) = delete;

  CReplicableObject* Copy() const override;
  unsigned Columns() const { return static_cast<unsigned>(columns.size()); }
  unsigned Rows() const { return columns.empty() ? 0 : columns[0]->Size(); }
  void InsertColumn(CDoubleVector* column);
  void InsertColumn(CDoubleVector* column, int index);
  // Still owned by the matrix; null (reported) for an index out of range.
  CDoubleVector* Column(unsigned index) const;
  // Takes the column out; the caller owns it. Null for an index out of range.
  CDoubleVector* RemoveColumn(unsigned index);
  // Removes and destroys the column. Returns 0.
  int DeleteColumn(unsigned index);
  // Destroys every column, last first.
  void Clear();

  // The matrix text file: one row a line, values separated by white space.
  // 0 on success, -1 on failure (the matrix is then unchanged).
  int LoadFromFile(AnsiString fileName);
  int SaveToFile(AnsiString fileName) const;

  int SerializeData(xmlNode* element) override;
  int DeserializeData(xmlNode* element) override;

  // Longest line LoadFromFile accepts, without its line break.
  static constexpr size_t kMaxLineLength = 299999;

 private:
  std::vector<CDoubleVector*> columns;
};

// Fills the class registry with the packet classes, in their fixed order.
void RegisterPacketTypes();

// The descriptors of the packet classes live in this library, whoever builds
// a CMetaClass for them.
extern template class CMetaClassTemplate<CDoublePacket>;
extern template class CMetaClassTemplate<CStringPacket>;
extern template class CMetaClassTemplate<CDataBlock>;
extern template class CMetaClassTemplate<CDoubleVector>;
extern template class CMetaClassTemplate<CDoubleVectorPart>;
extern template class CMetaClassTemplate<CDoubleMatrix>;
