#pragma once
// Measurement channels and their listeners. A channel keeps the geometry of
// the arrays its inputs deliver (the full array size), its names and its
// stimulus range, and hands every part of data to its subscribers in the
// order they subscribed. Subscribers are the diagram area (the bottom axis,
// the markers) and the traces.
//
// A new kind of listener derives from CChannelSubscriber and overrides the
// three notifications it cares about; subscriptions end by themselves when
// either side is destroyed.
#include <cstddef>
#include <string>
#include <vector>

namespace plotdesk {

class CChannel;

class CChannelSubscriber {
 public:
  CChannelSubscriber() = default;
  CChannelSubscriber(const CChannelSubscriber&) = delete;
  CChannelSubscriber& operator=(const CChannelSubscriber&) = delete;
  virtual ~CChannelSubscriber();

  // Name, response quantity, stimulus range or array size changed.
  virtual void ChannelChanged(CChannel* channel);
  // A part of a sweep: `count` points from `offset` on.
  virtual void ChannelData(CChannel* channel, size_t offset, size_t count, const double* x, const double* y);
  // A frame's data have all been handed over.
  virtual void ChannelDataComplete(CChannel* channel);

  void Subscribe(CChannel* channel);
  void Unsubscribe(CChannel* channel);
  void UnsubscribeAll();
  const std::vector<CChannel*>& Channels() const { return channels_; }

 private:
  friend class CChannel;
  std::vector<CChannel*> channels_;
};

class CChannel {
 public:
  CChannel(std::string name, std::string quantityR, std::string quantityS);
  CChannel(const CChannel&) = delete;
  CChannel& operator=(const CChannel&) = delete;
  ~CChannel();

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name);
  // The unit texts of the values and of the arguments.
  const std::string& QuantityR() const { return quantityR_; }
  void SetQuantityR(const std::string& quantity);
  const std::string& QuantityS() const { return quantityS_; }
  void SetQuantityS(const std::string& quantity) { quantityS_ = quantity; }  // says nothing
  double StimulusMin() const { return stimMin_; }
  double StimulusMax() const { return stimMax_; }
  // Says so only when the range is another.
  void SetStimulus(double minimum, double maximum);
  size_t ArraySize() const { return arraySize_; }
  void SetArraySize(size_t size);

  // Hands a part to every subscriber, then says the frame is complete.
  void Deliver(size_t offset, size_t count, const double* x, const double* y);
  // The whole sweeps delivered: parts from 0 to the end of the array, one
  // after the other, on one array size and stimulus range.
  unsigned long long WholeSweeps() const { return wholeSweeps_; }
  const std::vector<CChannelSubscriber*>& Subscribers() const { return subscribers_; }

 private:
  friend class CChannelSubscriber;
  void Changed();

  std::string name_, quantityR_, quantityS_;
  double stimMin_ = 0, stimMax_ = 0;
  size_t arraySize_ = 0;
  // The sweep being delivered: whether it began at 0 and has had no gap,
  // and where its next part begins.
  bool sweepWhole_ = false;
  size_t sweepNext_ = 0;
  unsigned long long wholeSweeps_ = 0;
  std::vector<CChannelSubscriber*> subscribers_;
};

}  // namespace plotdesk
