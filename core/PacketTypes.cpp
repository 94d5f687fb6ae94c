#include "PacketTypes.h"

#include <cstring>
#include <new>
#include <string>

#include "../platform/FileUtil.h"
#include "../platform/Report.h"
#include "DevCommand.h"
#include "Diagnostics.h"
#include "NumberText.h"
#include "VKXml.h"

template class CMetaClassTemplate<CDoublePacket>;
template class CMetaClassTemplate<CStringPacket>;
template class CMetaClassTemplate<CDataBlock>;
template class CMetaClassTemplate<CDoubleVector>;
template class CMetaClassTemplate<CDoubleVectorPart>;
template class CMetaClassTemplate<CDoubleMatrix>;

// ---- CBasePacket ----------------------------------------------------------

CBasePacket* CBasePacket::CopyPacket() const {
  CReplicableObject* copy = Copy();
  CBasePacket* pkt = dynamic_cast<CBasePacket*>(copy);
  VK_ASSERT(pkt);
  if (!pkt) delete copy;
  return pkt;
}

// ---- CDoublePacket --------------------------------------------------------

CDoublePacket::CDoublePacket(double value) { SetValue(value); }

CReplicableObject* CDoublePacket::Copy() const { return new CDoublePacket(GetValue()); }

int CDoublePacket::DeserializeData(xmlNode* element) {
  SetValue(VKCore::GetNodeDoubleValue(element, "@value", 0));
  return 0;
}

// ---- CDataBlock -----------------------------------------------------------

CDataBlock::CDataBlock(unsigned size) { SetBlockSize(size); }

CDataBlock::CDataBlock(const CDataBlock* other) {
  if (!other) return;
  SetBlockSize(other->Size());
  if (size_) std::memcpy(block_.get(), other->Block(), size_);
}

CReplicableObject* CDataBlock::Copy() const { return new CDataBlock(this); }

int CDataBlock::SetBlockSize(unsigned size) {
  if (size == size_ && (block_ || size == 0)) return 0;
  // One hidden byte past the end always holds 0, so a block read as text
  // ends there even when its own bytes carry no terminator.
  block_.reset(size ? new unsigned char[static_cast<size_t>(size) + 1] : nullptr);
  if (size) block_[size] = 0;
  size_ = size;
  return 0;
}

// ---- CStringPacket --------------------------------------------------------

CStringPacket::CStringPacket(const char* text) { SetString(text); }

CStringPacket::CStringPacket(const CDataBlock* other) : CDataBlock(other) {}

CReplicableObject* CStringPacket::Copy() const { return new CStringPacket(this); }

void CStringPacket::SetString(const char* text) {
  if (!text) text = "";
  const size_t len = std::strlen(text);
  SetBlockSize(static_cast<unsigned>(len + 1));
  std::memcpy(Block(), text, len + 1);
}

const char* CStringPacket::GetString() const {
  // A block that came from elsewhere may lack its terminator: its whole
  // content is the text, ended by the hidden byte past the block.
  if (Size() == 0) return "";
  return reinterpret_cast<const char*>(Block());
}

int CStringPacket::DeserializeData(xmlNode* element) {
  SetString(VKCore::GetNodeStringValue(element, "@value", "").c_str());
  return 0;
}

// ---- CDoubleVector --------------------------------------------------------

CDoubleVector::CDoubleVector(unsigned size) { SetSize(size); }

CReplicableObject* CDoubleVector::Copy() const {
  auto* copy = new CDoubleVector(size_);
  copy->CopyElementsFrom(*this);
  return copy;
}

void CDoubleVector::CopyElementsFrom(const CDoubleVector& other) {
  SetSize(other.size_);
  if (size_) std::memcpy(data_.get(), other.data_.get(), size_ * sizeof(double));
}

void CDoubleVector::SetSize(unsigned size) {
  if (size == size_) return;
  data_.reset(size ? new double[size] : nullptr);
  size_ = size;
}

int CDoubleVector::SerializeData(xmlNode* element) {
  VK_ASSERT_TEXT(element != nullptr, "ANode");
  if (!element) return 0;
  AnsiString text;
  text.reserve(static_cast<size_t>(size_) * 8);
  for (unsigned i = 0; i < size_; ++i) {
    if (i) text += ' ';
    vkcore::AppendExactNumber(text, data_[i]);
  }
  VKCore::AddAttribute(element, "vector", text);
  return 0;
}

int CDoubleVector::DeserializeData(xmlNode* element) {
  VK_ASSERT_TEXT(element != nullptr, "ANode");
  if (!element) return 0;
  const AnsiString text = VKCore::GetNodeStringValue(element, "@vector", "");
  const char* end = text.data() + text.size();
  // First pass counts the numbers up to the first token that is not one, the
  // second reads them.
  unsigned count = 0;
  double v;
  for (const char* p = text.data(); (p = vkcore::ScanDouble(p, end, v)) != nullptr;) ++count;
  SetSize(count);
  const char* p = text.data();
  for (unsigned i = 0; i < count; ++i) p = vkcore::ScanDouble(p, end, data_[i]);
  return 0;
}

// ---- CDoubleVectorPart ----------------------------------------------------

CDoubleVectorPart::CDoubleVectorPart(unsigned size, unsigned fullSize, unsigned offset)
    : CDoubleVector(size), fullSize_(fullSize == 0 ? size : fullSize), offset_(offset) {
  VK_ASSERT_TEXT(static_cast<unsigned long long>(offset_) + size <= fullSize_,
                 "Offset+VecSize<=FullSize");
}

CReplicableObject* CDoubleVectorPart::Copy() const {
  auto* copy = new CDoubleVectorPart(0, 0, 0);
  copy->fullSize_ = fullSize_;
  copy->offset_ = offset_;
  copy->CopyElementsFrom(*this);
  return copy;
}

// ---- CDoubleMatrix --------------------------------------------------------

CDoubleMatrix::~CDoubleMatrix() { Clear(); }

void CDoubleMatrix::Clear() {
  while (!columns.empty()) {
    delete columns.back();
    columns.pop_back();
  }
}

CReplicableObject* CDoubleMatrix::Copy() const {
  auto* copy = new (std::nothrow) CDoubleMatrix();
  VK_ASSERT_TEXT(copy != nullptr, "copy!=NULL");
  if (!copy) return nullptr;
  copy->columns.reserve(columns.size());
  for (const CDoubleVector* column : columns) {
    CBasePacket* pkt = column->CopyPacket();
    auto* vec = dynamic_cast<CDoubleVector*>(pkt);
    VK_ASSERT_TEXT(vec != nullptr, "vec != NULL");
    if (!vec) {
      delete pkt;
      continue;
    }
    copy->columns.push_back(vec);
  }
  return copy;
}

void CDoubleMatrix::InsertColumn(CDoubleVector* column) {
  InsertColumn(column, static_cast<int>(columns.size()));
}

void CDoubleMatrix::InsertColumn(CDoubleVector* column, int index) {
  VK_ASSERT_TEXT(column != nullptr, "column != NULL");
  if (!column) return;
  VK_ASSERT_TEXT(columns.empty() || (columns[0]->Size() == column->Size()),
                 "columns.empty() || (columns[0]->Size() == column->Size())");
  if (index < 0) index = 0;
  if (static_cast<size_t>(index) > columns.size()) index = static_cast<int>(columns.size());
  columns.insert(columns.begin() + index, column);
}

CDoubleVector* CDoubleMatrix::Column(unsigned index) const {
  VK_ASSERT_TEXT(index < columns.size(), "index < columns.size()");
  return index < columns.size() ? columns[index] : nullptr;
}

CDoubleVector* CDoubleMatrix::RemoveColumn(unsigned index) {
  VK_ASSERT_TEXT(index < columns.size(), "index < columns.size()");
  if (index >= columns.size()) return nullptr;
  CDoubleVector* column = columns[index];
  columns.erase(columns.begin() + index);
  return column;
}

int CDoubleMatrix::DeleteColumn(unsigned index) {
  delete RemoveColumn(index);
  return 0;
}

int CDoubleMatrix::SaveToFile(AnsiString fileName) const {
  const unsigned rows = Rows();
  // A matrix whose columns differ in length cannot be written as rows; it is
  // refused rather than read past its shorter columns.
  for (const CDoubleVector* column : columns)
    if (column->Size() != rows) return -1;
  AnsiString text;
  text.reserve(static_cast<size_t>(rows) * columns.size() * 10);
  for (unsigned i = 0; i < rows; ++i) {
    for (const CDoubleVector* column : columns) {
      vkcore::AppendExactNumber(text, (*column)[i]);
      text += '\t';
    }
    text += '\n';
  }
  return vkplatform::WriteFileAtomically(fileName, text.data(), text.size()) == 0 ? 0 : -1;
}

int CDoubleMatrix::LoadFromFile(AnsiString fileName) {
  // Matrix and trace files: a generous limit, said with the file's name.
  constexpr size_t kMatrixFileLimit = size_t(512) << 20;
  std::string contents;
  vkplatform::ReadFailure failure = vkplatform::ReadFailure::none;
  if (!vkplatform::ReadWholeFile(fileName, contents, kMatrixFileLimit, &failure)) {
    if (failure == vkplatform::ReadFailure::tooLarge)
      vkplatform::MessageBox(vkplatform::TooLargeText(fileName, kMatrixFileLimit), "Ошибка",
                             vkplatform::MsgIcon::Error);
    return -1;
  }

  // One pass over the lines collects the numbers of every line that holds
  // any; the matrix is touched only once the whole file has proved sound.
  std::vector<double> values;
  size_t cols = 0;
  size_t rows = 0;
  const char* p = contents.data();
  const char* const fileEnd = p + contents.size();
  while (p < fileEnd) {
    const char* eol = static_cast<const char*>(std::memchr(p, '\n', fileEnd - p));
    const char* lineEnd = eol ? eol : fileEnd;
    const char* next = eol ? eol + 1 : fileEnd;
    if (lineEnd > p && lineEnd[-1] == '\r') --lineEnd;
    if (static_cast<size_t>(lineEnd - p) > kMaxLineLength) return -1;
    size_t count = 0;
    double v;
    for (const char* q = p; (q = vkcore::ScanDouble(q, lineEnd, v)) != nullptr; ++count)
      values.push_back(v);
    if (count > 0) {
      if (rows == 0) cols = count;
      else if (count != cols) return -1;
      ++rows;
    }
    p = next;
  }
  if (rows == 0) return -1;

  // Every column must have the row count: a matrix made ragged by a reported
  // InsertColumn is rebuilt rather than written past its short columns.
  bool sameShape = columns.size() == cols;
  for (const CDoubleVector* column : columns)
    if (column->Size() != rows) sameShape = false;
  if (!sameShape) {
    Clear();
    for (size_t c = 0; c < cols; ++c) {
      auto* dv = new (std::nothrow) CDoubleVector(static_cast<unsigned>(rows));
      VK_ASSERT_TEXT(dv != nullptr, "DV != NULL");
      if (!dv) return -1;
      columns.push_back(dv);
    }
  }
  // A matrix of the same shape keeps its column objects.
  for (size_t r = 0; r < rows; ++r)
    for (size_t c = 0; c < cols; ++c) (*columns[c])[static_cast<unsigned>(r)] = values[r * cols + c];
  return 0;
}

int CDoubleMatrix::SerializeData(xmlNode* element) {
  for (CDoubleVector* column : columns) {
    xmlNode* pElement = VKCore::AddElement(element, "column");
    VK_ASSERT_TEXT(pElement != nullptr, "(pElement = AddElement(ANode, L\"column\"))");
    if (pElement) column->SerializeData(pElement);
  }
  return 0;
}

int CDoubleMatrix::DeserializeData(xmlNode* element) {
  std::vector<xmlNode*> nodes;
  if (!element || !VKCore::SelectNodes(element, "column", nodes)) return 0;
  Clear();
  for (xmlNode* node : nodes) {
    auto* dv = new CDoubleVector(0);
    dv->DeserializeData(node);
    VK_ASSERT_TEXT(dv->Size() != 0, "DV->Size()!=0");
    // A column that does not fit would make the matrix ragged; it is reported
    // and left out, so the matrix read from XML is always rectangular.
    bool fits = dv->Size() != 0 && (columns.empty() || columns[0]->Size() == dv->Size());
    VK_ASSERT_TEXT(dv->Size() == 0 || fits,
                   "columns.empty() || (columns[0]->Size() == column->Size())");
    if (!fits) {
      delete dv;
      continue;
    }
    columns.push_back(dv);
  }
  return 0;
}

// ---- registry ---------------------------------------------------------------

void RegisterPacketTypes() {
  CClassFactory::RegisterClass(MetaClassOf<CStringPacket>());
  CClassFactory::RegisterClass(MetaClassOf<CDataBlock>());
  CClassFactory::RegisterClass(MetaClassOf<CDevCommand>());
  CClassFactory::RegisterClass(MetaClassOf<CDoubleVector>());
  CClassFactory::RegisterClass(MetaClassOf<CDoubleVectorPart>());
  CClassFactory::RegisterClass(MetaClassOf<CDoubleMatrix>());
  CClassFactory::RegisterClass(MetaClassOf<CDoublePacket>());
}
