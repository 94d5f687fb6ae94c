#include "DevCommand.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "Diagnostics.h"
#include "VKXml.h"

// Reports of this unit name the packet unit, where the packet classes live.
#define DEV_ASSERT(cond, text) \
  ((cond) ? static_cast<void>(0) : AssertFunction("PacketTypes.cpp", __DATE__, __LINE__, text))

template class CMetaClassTemplate<CDevCommand>;

namespace {

struct TName {
  int code;
  const char* name;
};

const TName kCommands[] = {{0, "MI_TEST"}, {1, "MI_RESET"},    {2, "MI_INIT"}, {3, "MI_SET"},
                           {4, "MI_GET"},  {5, "MI_GET_LIST"}, {6, "MI_RUN"}};

const TName kParameters[] = {
    {0, "P_FREQUENCY"}, {1, "P_RESERVED1"}, {2, "P_RESERVED2"}, {3, "P_MODE"},
    {4, "P_AVERAGING"}, {5, "P_INTERVAL"}, {6, "P_TEMPERATURE"}, {7, "P_SYNC_IN"},
    {8, "P_SYNC_OUT"}, {9, "P_SYNC_OUT2"}, {10, "P_UNKNOWN3"}, {11, "P_UNKNOWN4"},
    {12, "P_RF_OUT"}, {13, "P_ETHERNET"}, {14, "P_SER_NUM"}, {15, "P_DATES"},
    {16, "P_RUN_TIME"}, {17, "P_EXT_REF_GEN"}, {18, "P_BOOTROM"}, {19, "P_SYNTH04"},
    {20, "P_ADC_PARAM"}, {21, "P_SYNTH04_GET_DAC"}, {22, "P_SYNTH04_EPROM"}, {23, "P_CONFIG"},
    {24, "P_RAM"}, {25, "P_EPROM"}, {26, "P_RF_OUT_LIST"}, {27, "P_SEARCH_POWER"},
    {28, "P_INT_COMMAND"}, {29, "P_CALIBR"}, {30, "P_REGUL_CURVE"}, {31, "P_MODULATION"},
    {32, "P_BLOCKinFRAM"}, {33, "P_BOOTROM2"}, {34, "P_RF_BUTTON"}, {35, "P_CALIBR_FREQ"},
    {36, "P_POINTS_LIST"}, {37, "P_GEN_SYNC"}, {38, "P_Q5L_MAX_NUMBER"},
    {50, "P_CLK"}, {51, "P_UNKNOWN5"}, {52, "P_AGC"}, {53, "P_DECIMATION"},
    {54, "P_FACTOR"}, {55, "P_CHANNEL_MASK"}, {56, "P_RRS_FREQUENCY"}, {57, "P_RRS_ATTENUATE"},
    {58, "P_RRS_BASE_ATTENUATE"}, {59, "P_RRS_REL_ATTENUATE"}, {60, "P_RRS_RF_IN"},
    {61, "P_RRS_TEMPERATURE"}, {62, "P_GEN_REL_FREQUENCY"}, {63, "P_GEN_ATTENUATE"},
    {64, "P_GEN_RF_OUT"}, {65, "P_LVDS_STATUS"}, {66, "P_IF_FILTER_BANDWIDTH"},
    {67, "P_NOISE_GEN"}, {68, "P_TABLE_NKPP"}, {69, "P_VIDEO_FILTER_BANDWIDTH"},
    {70, "P_MAX_NUMBER"}};

const TName kErrors[] = {
    {0x0000, "Команда успешно выполнена"},
    {0x0001, "Параметр(ы) были скорректированы"},
    {0x0002, "Часть параметров неизвестна и поэтому проигнорирована"},
    {0x0003, "Измерение длится больше 100 сек (время разрыва соединения прибором при отсутствии "
             "активности по интерфейсу)"},
    {0x0004, ""},
    {0x5000, "Прибор не отвечает"},
    {0x5001, "Не удалось выполнить запись в ethernet"},
    {0x5002, "Не удалось прочитать из ethernet'a"},
    {0x5003, "Невозможно подключиться"},
    {0x5004, "Таймаут чтения заголовка команды"},
    {0x5005, "Таймаут чтения тела команды"},
    {0x5006, "Таймаут чтения данных"},
    {0x5007, "Таймаут записи данных"},
    {0x5008, "Тело команды не готово"},
    {0x5009, ""},
    {0x500A, ""},
    {0x500B, ""},
    {0x500C, "Невозможно освободить память"},
    {0x500D, "Невозможно открыть файл"},
    {0x500E, "Неверные калибровочные данные"},
    {0x500F, "Неверные данные S2P"},
    {0x5010, "Ошибка записи файла"},
    {0x5011, "Ошибка чтения файла"},
    {0x5012, ""},
    {0x5013, ""},
    {0x5014, ""},
    {0x5015, ""},
    {0x5016, "Неверная сигнатура пакета принятого от прибора"},
    {0x5017, "Неизвестная ошибка"},
    {0x5018, "Неверное задание параметров командной строки"},
    {0x8000, "Прибор находится в состоянии критической ошибки"},
    {0x8001, "Неизвестная команда (команда не поддерживается прибором)"},
    {0x8002, "Неизвестный параметр (параметр не поддерживается прибором)"},
    {0x8003, "Некорректный параметр (значение параметра не поддерживается прибором)"},
    {0x8004, "Не заданы параметры измерения (предыдущими командами)"},
    {0x8005, "Недостаточный размер команды"},
    {0x8006, "Нет ответа от ПЛИС"},
    {0x8007, "Нет захвата LO1"},
    {0x8008, "Нет захвата LO2"},
    {0x8009, "Нет захвата LO3"},
    {0x800A, "Превышение времени ожидания синхросигнала"},
    {0x800B, "Превышение времени ожидания ответа от синтезатора"},
    {0x800C, "Ошибка АЦП"},
    {0x800D, "Неверный размер команды"},
    {0x800E, "Неверная сигнатура - сбой потока команд"},
    {0x800F, "Ошибка EPROM"},
    {0x8010, "Ошибка проверки после записи в EPROM"},
    {0x8011, ""},
    {0x8012, ""},
    {0x8013, "Превышение времени ожидания LVDS-пакета"},
    {0x8014, "Нет такого LVDS устройства"},
    {0x8015, "Нет такого регистра в LVDS устройстве"},
    {0x8016, "Превышение времени ожидания оцифровки ГПН"},
    {0x8017, "Ручное управление прибором"}};

template <size_t N>
const char* NameOf(const TName (&table)[N], int code, size_t cut) {
  for (const TName& e : table)
    if (e.code == code) return e.name + cut;
  return nullptr;
}

// An entry matches its whole identifier, or the identifier without its first
// two or three characters (the "P_" and "MI_" prefixes).
template <size_t N>
int IdOf(const TName (&table)[N], const char* name) {
  if (!name) return -1;
  for (const TName& e : table) {
    const size_t len = std::strlen(e.name);
    if (std::strcmp(name, e.name) == 0) return e.code;
    if (len > 2 && std::strcmp(name, e.name + 2) == 0) return e.code;
    if (len > 3 && std::strcmp(name, e.name + 3) == 0) return e.code;
  }
  return -1;
}

unsigned RoundEven(unsigned n) { return n + (n & 1u); }

}  // namespace

const char* GetCommandName(int code) { return NameOf(kCommands, code, 3); }
int GetCommandID(const char* name) { return IdOf(kCommands, name); }
const char* GetParameterName(int id) { return NameOf(kParameters, id & 0xFFFF, 2); }
int GetParameterID(const char* name) { return IdOf(kParameters, name); }
const char* GetErrorString(int code) { return NameOf(kErrors, code & 0xFFFF, 0); }

// ---- CDevCommand --------------------------------------------------------------

CDevCommand::CDevCommand(unsigned short command, unsigned short bodyLength, unsigned char flagA,
                         unsigned char flagB, unsigned long id, unsigned short dummy)
    : CDataBlock(kDevHeadSize + RoundEven(bodyLength)) {
  const unsigned body = RoundEven(bodyLength);
  SetSignature(kDevSignature);
  SetCommand(command);
  SetStatus(kDevStatusNew);
  SetBodyLen(static_cast<unsigned short>(body));
  SetFlagA(flagA);
  SetFlagB(flagB);
  SetDummy(dummy);
  SetId(static_cast<uint32_t>(id));
}

CDevCommand::CDevCommand(const CDataBlock* other) : CDataBlock(other) {}

CReplicableObject* CDevCommand::Copy() const { return new CDevCommand(this); }

unsigned short CDevCommand::Get16(unsigned offset) const {
  if (Size() < offset + 2) return 0;
  return static_cast<unsigned short>(Block()[offset] | (Block()[offset + 1] << 8));
}

void CDevCommand::Set16(unsigned offset, unsigned short value) {
  if (Size() < offset + 2) return;
  Block()[offset] = static_cast<unsigned char>(value & 0xFF);
  Block()[offset + 1] = static_cast<unsigned char>(value >> 8);
}

uint32_t CDevCommand::Id() const {
  return static_cast<uint32_t>(Get16(12)) | (static_cast<uint32_t>(Get16(14)) << 16);
}

void CDevCommand::SetId(uint32_t id) {
  Set16(12, static_cast<unsigned short>(id & 0xFFFF));
  Set16(14, static_cast<unsigned short>(id >> 16));
}

int CDevCommand::CheckStructure() const {
  if (Size() < kDevHeadSize) return -1;
  return Signature() == kDevSignature && Size() == BodyLen() + kDevHeadSize ? 0 : -1;
}

double CDevCommand::ReadComplexValue(const unsigned char* data, unsigned offset, unsigned index,
                                     bool isSigned, unsigned bytes, unsigned fracBytes) {
  return ReadComplexValue(data, std::numeric_limits<size_t>::max(), offset, index, isSigned, bytes,
                          fracBytes);
}

double CDevCommand::ReadComplexValue(const unsigned char* data, size_t size, unsigned offset,
                                     unsigned index, bool isSigned, unsigned bytes,
                                     unsigned fracBytes) {
  if (bytes == 0) {
    DEV_ASSERT(false, "Bytes\r\n(ReadComplexValue: Invalid bytes count (0))");
    return 0;
  }
  // Formats no instrument uses: reading them would shift past 64 bits or
  // walk further than a value can reach.
  if (bytes > 8 || fracBytes > 3) {
    DEV_ASSERT(false, "Bytes<=8 && FracBytes<=3\r\n(ReadComplexValue: Invalid value format)");
    return 0;
  }
  const unsigned long long start = static_cast<unsigned long long>(offset) +
                                   static_cast<unsigned long long>(index) * bytes;
  if (!data || start + bytes > size) {
    DEV_ASSERT(false, "Offset+(Index+1)*Bytes<=Size\r\n(ReadComplexValue: Value outside the block)");
    return 0;
  }
  const unsigned char* p = data + start;
  uint64_t sum = 0;
  for (unsigned k = 0; k + 1 < bytes; ++k) sum |= static_cast<uint64_t>(p[k]) << (8 * k);
  const bool negative = (isSigned || fracBytes > 0) && (p[bytes - 1] & 0x80);
  sum |= static_cast<uint64_t>(p[bytes - 1]) << (8 * (bytes - 1));
  // Sign-extend the value from its top byte.
  if (negative && bytes < 8) sum |= ~uint64_t(0) << (8 * bytes);
  const double value = negative || (bytes == 8 && (isSigned || fracBytes > 0))
                           ? static_cast<double>(static_cast<int64_t>(sum))
                           : static_cast<double>(sum);
  return std::ldexp(value, -8 * static_cast<int>(fracBytes));
}

size_t CDevCommand::TrustedBodyLength(const char* operation) const {
  if (Size() < kDevHeadSize || Size() != kDevHeadSize + BodyLen()) {
    DEV_ASSERT(false, operation);
    return 0;
  }
  return BodyLen();
}

double CDevCommand::ReadComplexValue(unsigned offset, unsigned index, bool isSigned,
                                     unsigned bytes, unsigned fracBytes) const {
  if (bytes == 0) {
    bytes = FlagB() >> 4;
    fracBytes = FlagB() & 0x0F;
  }
  const size_t body =
      TrustedBodyLength("Size()==BodyLen()+16\r\n(ReadComplexValue: Block size disagrees with its head)");
  if (body == 0 && Size() != kDevHeadSize) return 0;
  return ReadComplexValue(Body(), body, offset, index, isSigned, bytes, fracBytes);
}

int CDevCommand::DeserializeData(xmlNode* element) {
  const int bodylen = VKCore::GetNodeIntValue(element, "@bodylen", 0);
  const unsigned body = bodylen < 0 ? 0u : std::min(static_cast<unsigned>(bodylen), 0xFFFFu);
  SetBlockSize(kDevHeadSize + body);
  // The body's bytes are not in the XML form; they start as zeros.
  std::memset(Block(), 0, Size());
  SetBodyLen(static_cast<unsigned short>(body));
  SetSignature(static_cast<unsigned short>(VKCore::GetNodeIntValue(element, "@signature", 0x55AA)));
  const AnsiString command = VKCore::GetNodeStringValue(element, "@command", "");
  const int code = GetCommandID(command.c_str());
  SetCommand(code < 0 ? 0xFFFF : static_cast<unsigned short>(code));
  DEV_ASSERT(code >= 0, "head->Command!=-1\r\n(Неизвестная команда или команда не определена)");
  SetStatus(static_cast<short>(VKCore::GetNodeIntValue(element, "@status", 0x8000)));
  SetFlagA(static_cast<unsigned char>(VKCore::GetNodeIntValue(element, "@flaga", 0)));
  SetFlagB(static_cast<unsigned char>(VKCore::GetNodeIntValue(element, "@flagb", 0)));
  SetDummy(static_cast<unsigned short>(VKCore::GetNodeIntValue(element, "@dummy", 0)));
  SetId(static_cast<uint32_t>(VKCore::GetNodeIntValue(element, "@id", 0)));
  DEV_ASSERT(CheckStructure() == 0, "CheckStructure()==0");
  return 0;
}

// ---- CDevParameter --------------------------------------------------------------

CDevParameter::CDevParameter(unsigned short parameterId, unsigned count, unsigned char bytes,
                             unsigned char fracBytes, unsigned short command)
    : CDevCommand(command, static_cast<unsigned short>(count * bytes + 2),
                  static_cast<unsigned char>(count & 0xFF),
                  static_cast<unsigned char>((bytes << 4) | (fracBytes & 0x0F)), 0, 0) {
  DEV_ASSERT(command == MI_SET || command == MI_GET, "nCommand == MI_SET || nCommand == MI_GET");
  if (Size() > kDevHeadSize) std::memset(Body(), 0, Size() - kDevHeadSize);
  SetParameterID(parameterId);
}

CDevParameter::CDevParameter(const CDataBlock* other) : CDevCommand(other) {}

CReplicableObject* CDevParameter::Copy() const { return new CDevParameter(this); }

int CDevParameter::CheckStructure() const {
  if (CDevCommand::CheckStructure() != 0 || BodyLen() < 2) return -1;
  if (Command() != MI_SET && Command() != MI_GET) return -1;
  const unsigned body = RoundEven(FlagA() * (FlagB() >> 4) + 2u);
  return Size() == kDevHeadSize + body ? 0 : -1;
}

double CDevParameter::Value(int index) const {
  if (index < 0 || index >= FlagA()) {
    DEV_ASSERT(false, "Index>=0 && Index<flaga\r\n(Value: no such value in the block)");
    return 0;
  }
  return ReadComplexValue(2, static_cast<unsigned>(index), false, 0, 0);
}

void CDevParameter::SetValue(int index, double value) {
  const unsigned bytes = FlagB() >> 4;
  const unsigned frac = FlagB() & 0x0F;
  if (index < 0 || index >= FlagA() || bytes == 0 || bytes > 8 || frac > 3) {
    DEV_ASSERT(false, "Index<flaga && 1<=Bytes<=8 && FracBytes<=3\r\n(SetValue: no such value)");
    return;
  }
  const size_t body = TrustedBodyLength("Size()==BodyLen()+16\r\n(SetValue: Block size disagrees with its head)");
  const size_t start = 2 + static_cast<size_t>(index) * bytes;
  if (start + bytes > body) {
    DEV_ASSERT(false, "Offset+(Index+1)*Bytes<=Size\r\n(SetValue: Value outside the block)");
    return;
  }
  // Truncation toward zero; values beyond 64 bits saturate instead of being
  // undefined, and NaN is written as 0.
  double scaled = std::ldexp(value, 8 * static_cast<int>(frac));
  int64_t n;
  if (std::isnan(scaled)) n = 0;
  else if (scaled >= 9223372036854775807.0) n = std::numeric_limits<int64_t>::max();
  else if (scaled <= -9223372036854775808.0) n = std::numeric_limits<int64_t>::min();
  else n = static_cast<int64_t>(scaled);
  const uint64_t u = static_cast<uint64_t>(n);
  unsigned char* p = Body() + start;
  for (unsigned k = 0; k < bytes; ++k) p[k] = static_cast<unsigned char>((u >> (8 * k)) & 0xFF);
}

void CDevParameter::SetValues(double v0) { SetValue(0, v0); }
void CDevParameter::SetValues(double v0, double v1) {
  SetValue(0, v0);
  SetValue(1, v1);
}
void CDevParameter::SetValues(double v0, double v1, double v2) {
  SetValues(v0, v1);
  SetValue(2, v2);
}
void CDevParameter::SetValues(double v0, double v1, double v2, double v3) {
  SetValues(v0, v1, v2);
  SetValue(3, v3);
}
