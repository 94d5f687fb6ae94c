#include "model/Channel.h"

#include <algorithm>

namespace plotdesk {

namespace {
template <class T>
void Erase(std::vector<T*>& list, T* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}
}  // namespace

CChannelSubscriber::~CChannelSubscriber() { UnsubscribeAll(); }

void CChannelSubscriber::ChannelChanged(CChannel*) {}
void CChannelSubscriber::ChannelData(CChannel*, size_t, size_t, const double*, const double*) {}
void CChannelSubscriber::ChannelDataComplete(CChannel*) {}

void CChannelSubscriber::Subscribe(CChannel* channel) {
  if (!channel || std::find(channels_.begin(), channels_.end(), channel) != channels_.end()) return;
  channels_.push_back(channel);
  channel->subscribers_.push_back(this);
}

void CChannelSubscriber::Unsubscribe(CChannel* channel) {
  if (!channel) return;
  Erase(channels_, channel);
  Erase(channel->subscribers_, this);
}

void CChannelSubscriber::UnsubscribeAll() {
  while (!channels_.empty()) Unsubscribe(channels_.back());
}

CChannel::CChannel(std::string name, std::string quantityR, std::string quantityS)
    : name_(std::move(name)), quantityR_(std::move(quantityR)), quantityS_(std::move(quantityS)) {}

CChannel::~CChannel() {
  while (!subscribers_.empty()) subscribers_.back()->Unsubscribe(this);
}

void CChannel::Changed() {
  // A subscriber may leave while it is told (a trace that moves away):
  // those still subscribed are told, each once.
  const std::vector<CChannelSubscriber*> told = subscribers_;
  for (CChannelSubscriber* s : told)
    if (std::find(subscribers_.begin(), subscribers_.end(), s) != subscribers_.end()) s->ChannelChanged(this);
}

void CChannel::SetName(const std::string& name) {
  if (name == name_) return;
  name_ = name;
  Changed();
}

void CChannel::SetQuantityR(const std::string& quantity) {
  if (quantity == quantityR_) return;
  quantityR_ = quantity;
  Changed();
}

void CChannel::SetStimulus(double minimum, double maximum) {
  if (minimum == stimMin_ && maximum == stimMax_) return;
  stimMin_ = minimum;
  stimMax_ = maximum;
  sweepWhole_ = false;  // a sweep on two ranges is none
  Changed();
}

void CChannel::SetArraySize(size_t size) {
  if (size == arraySize_) return;
  arraySize_ = size;
  sweepWhole_ = false;
  Changed();
}

void CChannel::Deliver(size_t offset, size_t count, const double* x, const double* y) {
  if (offset == 0) sweepWhole_ = true;
  else if (offset != sweepNext_) sweepWhole_ = false;
  sweepNext_ = offset + count;
  if (sweepWhole_ && arraySize_ > 0 && sweepNext_ >= arraySize_) {
    ++wholeSweeps_;
    sweepWhole_ = false;
  }
  const std::vector<CChannelSubscriber*> told = subscribers_;
  for (CChannelSubscriber* s : told) s->ChannelData(this, offset, count, x, y);
  for (CChannelSubscriber* s : told)
    if (std::find(subscribers_.begin(), subscribers_.end(), s) != subscribers_.end()) s->ChannelDataComplete(this);
}

}  // namespace plotdesk
