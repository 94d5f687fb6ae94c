#pragma once
// Command blocks of the instrument's protocol: a 16-byte little-endian head
// (signature 0x55AA, command, status, body length, two flags, a spare word
// and an id) followed by the body. Parameter commands carry a parameter
// identifier and fixed-point values. Also the name tables of commands,
// parameters and instrument error codes.
#include <cstdint>

#include "PacketTypes.h"
#include "ThreadObject.h"

enum EDevCommand : unsigned short {
  MI_TEST = 0,
  MI_RESET = 1,
  MI_INIT = 2,
  MI_SET = 3,
  MI_GET = 4,
  MI_GET_LIST = 5,
  MI_RUN = 6
};

enum EDevParameter : unsigned short {
  P_FREQUENCY = 0, P_RESERVED1, P_RESERVED2, P_MODE, P_AVERAGING, P_INTERVAL, P_TEMPERATURE,
  P_SYNC_IN, P_SYNC_OUT, P_SYNC_OUT2, P_UNKNOWN3, P_UNKNOWN4, P_RF_OUT, P_ETHERNET, P_SER_NUM,
  P_DATES, P_RUN_TIME, P_EXT_REF_GEN, P_BOOTROM, P_SYNTH04, P_ADC_PARAM, P_SYNTH04_GET_DAC,
  P_SYNTH04_EPROM, P_CONFIG, P_RAM, P_EPROM, P_RF_OUT_LIST, P_SEARCH_POWER, P_INT_COMMAND,
  P_CALIBR, P_REGUL_CURVE, P_MODULATION, P_BLOCKinFRAM, P_BOOTROM2, P_RF_BUTTON, P_CALIBR_FREQ,
  P_POINTS_LIST, P_GEN_SYNC, P_Q5L_MAX_NUMBER,
  P_CLK = 50, P_UNKNOWN5, P_AGC, P_DECIMATION, P_FACTOR, P_CHANNEL_MASK, P_RRS_FREQUENCY,
  P_RRS_ATTENUATE, P_RRS_BASE_ATTENUATE, P_RRS_REL_ATTENUATE, P_RRS_RF_IN, P_RRS_TEMPERATURE,
  P_GEN_REL_FREQUENCY, P_GEN_ATTENUATE, P_GEN_RF_OUT, P_LVDS_STATUS, P_IF_FILTER_BANDWIDTH,
  P_NOISE_GEN, P_TABLE_NKPP, P_VIDEO_FILTER_BANDWIDTH, P_MAX_NUMBER
};

// Instrument and computer-side result codes (the status of an answer).
enum EDevError : unsigned short {
  MI_NO_ERROR = 0x0000,
  MI_PARAMETER_CORRECTED = 0x0001,
  MI_PARAMETER_IGNORED = 0x0002,
  MI_TIMEOUT = 0x0003,
  MI_ETHERNET = 0x0004,
  SE_DEVICE_DONT_ANSWER = 0x5000,
  SE_WRITE_ERROR = 0x5001,
  SE_READ_ERROR = 0x5002,
  SE_CANT_CONNECT = 0x5003,
  SE_READ_HEAD_TIMEOUT = 0x5004,
  SE_READ_BODY_TIMEOUT = 0x5005,
  SE_READ_TIMEOUT = 0x5006,
  SE_WRITE_TIMEOUT = 0x5007,
  SE_READ_BODY_NOT_READY = 0x5008,
  SE_HAVE_READ_WRONG_SIZE = 0x5009,
  SE_HAVE_WRITE_WRONG_SIZE = 0x500A,
  SE_CANT_EXTRACT_MEMORY = 0x500B,
  SE_CANT_FREE_MEMORY = 0x500C,
  SE_CANT_OPEN_FILE = 0x500D,
  SE_TRY_TO_READ_WRONG_CALIB_DATA = 0x500E,
  SE_TRY_TO_READ_WRONG_S2P_DATA = 0x500F,
  SE_WRITE_FILE_ERROR = 0x5010,
  SE_READ_FILE_ERROR = 0x5011,
  SE_CANT_FIND_SUCH_PROFILE_NAME = 0x5012,
  SE_DETECTOR_CALIB_DATA_FILE_READ_ERROR = 0x5013,
  SE_DEVICE_WAIT_SYNCHRO_SIGNAL = 0x5014,
  SE_DATA_READ_FROM_FILE_CHECK_ERROR = 0x5015,
  SE_INVALID_SIGNATURE = 0x5016,
  SE_UNKNOWN_ERROR = 0x5017,
  SE_COMMAND_LINE_ERROR = 0x5018,
  MI_CRITICAL_ERROR = 0x8000,
  MI_UNKNOWN_COMMAND = 0x8001,
  MI_UNKNOWN_PARAMETER = 0x8002,
  MI_PARAMETER_INCORRECT = 0x8003,
  MI_NO_PARAMETERS = 0x8004,
  MI_SMALL_SIZE = 0x8005,
  MI_PLD_ERROR = 0x8006,
  MI_LO1_NO_PLL = 0x8007,
  MI_LO2_NO_PLL = 0x8008,
  MI_LO3_NO_PLL = 0x8009,
  MI_SYNC_TIMEOUT = 0x800A,
  MI_SYNTH_TIMEOUT = 0x800B,
  MI_ADC_ERROR = 0x800C,
  MI_SIZE_ERROR = 0x800D,
  MI_SIGNATURE_ERROR = 0x800E,
  MI_EPROM_ERROR = 0x800F,
  MI_EPROM_MISMATCH = 0x8010,
  MI_CALIBR_T2_ERROR = 0x8011,
  MI_CALIBR_T2_SIZE_ERROR = 0x8012,
  MI_LVDS_TIMEOUT = 0x8013,
  MI_LVDS_DEVICE_ERROR = 0x8014,
  MI_LVDS_REGISTER_ERROR = 0x8015,
  MI_ASYNC_TIMEOUT = 0x8016,
  MI_LOCAL_CONTROL = 0x8017
};

constexpr unsigned short kDevSignature = 0x55AA;
constexpr unsigned kDevHeadSize = 16;
constexpr short kDevStatusNew = static_cast<short>(0x8000);

class CDevCommand : public CDataBlock {
 public:
  explicit CDevCommand(unsigned short command = 0, unsigned short bodyLength = 0,
                       unsigned char flagA = 0, unsigned char flagB = 0, unsigned long id = 0,
                       unsigned short dummy = 0);
  explicit CDevCommand(const CDataBlock* other);
  CReplicableObject* Copy() const override;

  unsigned char* Head() { return Block(); }
  const unsigned char* Head() const { return Block(); }
  unsigned char* Body() { return Size() > kDevHeadSize ? Block() + kDevHeadSize : nullptr; }
  const unsigned char* Body() const { return Size() > kDevHeadSize ? Block() + kDevHeadSize : nullptr; }

  // Head fields; a block shorter than a head reads as zeros and ignores writes.
  unsigned short Signature() const { return Get16(0); }
  short Command() const { return static_cast<short>(Get16(2)); }
  short Status() const { return static_cast<short>(Get16(4)); }
  void SetStatus(short status) { Set16(4, static_cast<unsigned short>(status)); }
  unsigned short BodyLen() const { return Get16(6); }
  unsigned char FlagA() const { return Size() >= kDevHeadSize ? Block()[8] : 0; }
  unsigned char FlagB() const { return Size() >= kDevHeadSize ? Block()[9] : 0; }
  unsigned short Dummy() const { return Get16(10); }
  uint32_t Id() const;
  void SetCommand(unsigned short c) { Set16(2, c); }
  void SetBodyLen(unsigned short n) { Set16(6, n); }
  void SetFlagA(unsigned char f) { if (Size() >= kDevHeadSize) Block()[8] = f; }
  void SetFlagB(unsigned char f) { if (Size() >= kDevHeadSize) Block()[9] = f; }
  void SetId(uint32_t id);
  void SetSignature(unsigned short s) { Set16(0, s); }
  void SetDummy(unsigned short d) { Set16(10, d); }

  // 0 when the signature is 0x55AA and the block is 16 + bodylen bytes.
  int CheckStructure() const;

  // Value `index` of `bytes` bytes (1..8, least significant first) with
  // `fracBytes` fractional bytes (0..3) at data[offset + index * bytes].
  // This form trusts the caller with the data's extent; it checks the format.
  static double ReadComplexValue(const unsigned char* data, unsigned offset, unsigned index,
                                 bool isSigned, unsigned bytes, unsigned fracBytes);
  // The same within `size` bytes of data: a value reaching past them is a
  // reported violation and reads as 0.
  static double ReadComplexValue(const unsigned char* data, size_t size, unsigned offset,
                                 unsigned index, bool isSigned, unsigned bytes, unsigned fracBytes);
  // The same on this command's body; `bytes` 0 takes both formats from flagb.
  double ReadComplexValue(unsigned offset, unsigned index, bool isSigned, unsigned bytes,
                          unsigned fracBytes) const;

  int DeserializeData(xmlNode* element) override;

 protected:
  unsigned short Get16(unsigned offset) const;
  void Set16(unsigned offset, unsigned short value);
  // The body's extent that may be trusted: bodylen when the block agrees
  // with it, otherwise 0 (reported).
  size_t TrustedBodyLength(const char* operation) const;
};

class CDevParameter : public CDevCommand {
 public:
  explicit CDevParameter(unsigned short parameterId = 0, unsigned count = 0,
                         unsigned char bytes = 0, unsigned char fracBytes = 0,
                         unsigned short command = MI_SET);
  explicit CDevParameter(const CDataBlock* other);
  CReplicableObject* Copy() const override;

  short ParameterID() const { return static_cast<short>(Get16(kDevHeadSize)); }
  void SetParameterID(unsigned short id) { Set16(kDevHeadSize, id); }
  // Value `index` in the format of flagb; an index at or beyond flaga, or a
  // block that disagrees with its head, is a reported violation and gives 0.
  double Value(int index) const;
  // Writes value `index`; the same violations write nothing.
  void SetValue(int index, double value);
  void SetValues(double v0);
  void SetValues(double v0, double v1);
  void SetValues(double v0, double v1, double v2);
  void SetValues(double v0, double v1, double v2, double v3);
  int CheckStructure() const;
  unsigned ValueBytes() const { return FlagB() >> 4; }
  unsigned FracBytes() const { return FlagB() & 0x0F; }
};

// One pending command handed between threads; users hold its lock.
class CSafeSendParameter : public CSafeObject {
 public:
  CSafeSendParameter() = default;
  ~CSafeSendParameter() override { delete command_; }
  void Set(CDevCommand* command) {
    if (command != command_) delete command_;
    command_ = command;
  }
  CDevCommand* Get() const { return command_; }
  void Null() { command_ = nullptr; }

 private:
  CDevCommand* command_ = nullptr;
};

// Name tables.
const char* GetCommandName(int code);
int GetCommandID(const char* name);
const char* GetParameterName(int id);
int GetParameterID(const char* name);
const char* GetErrorString(int code);

extern template class CMetaClassTemplate<CDevCommand>;
