#pragma once
// A parameter panel on a host main window, its link points wired to queues
// the test feeds and reads: "command" in (when wired) and out, and the three
// "value" outputs.
#include <gtest/gtest.h>

#include <QDockWidget>
#include <QMainWindow>
#include <QMenuBar>

#include <memory>
#include <string>

#include "ConstPanel.h"
#include "GuiPlugin.h"
#include "PacketQueue.h"
#include "TestApp.h"
#include "VKXml.h"

namespace paneltest {

// The application exists before the window is built.
struct TAppFirst {
  TAppFirst() { TestApp(); }
};

struct THost : TAppFirst {
  THost() {
    auto* bar = new QMenuBar(&main);
    bar->setObjectName("MainMenu");
    main.setMenuBar(bar);
    bar->addMenu(QString::fromUtf8("&Файл"));
    new TDockArea(&main, "DockRight", Qt::RightDockWidgetArea);
  }
  QMainWindow main;
};

// One queue with one reading input: what the panel sends on an output.
struct TTap {
  TTap() : queue(64), reader("tap", {MetaClassOf<CDevCommand>(), MetaClassOf<CDoublePacket>()}, lptDefault) {
    reader.AddSubscription(&queue);
  }
  template <class T>
  std::unique_ptr<T> Next() {
    return std::unique_ptr<T>(dynamic_cast<T*>(reader.GetPacketCopyAndRelease()));
  }
  CPacketQueue queue;
  CInLinkPoint reader;
};

class TPanel {
 public:
  // `parameters` is the text of the parameters node; `commandWired` says
  // whether a wire feeds the input "command".
  TPanel(THost& host, const std::string& parameters, bool commandWired = true, int valueQueue = 64)
      : valueQueueSize(valueQueue) {
    panel.SetName("panel");
    panel.Register();
    if (commandWired) panel.GetInLinkPoint(AnsiString("command"))->AddSubscription(&commandIn);
    panel.GetInLinkPoint(AnsiString("value1"))->AddSubscription(&valueIn);
    panel.GetOutLinkPoint(AnsiString("command"))->SetDispatcher(&command.queue);
    for (int i = 0; i < 3; ++i) {
      values[i].queue.SetQueueSize(static_cast<unsigned>(valueQueue));
      panel.GetOutLinkPoint(AnsiString("value") + std::to_string(i + 1))->SetDispatcher(&values[i].queue);
    }
    doc.OpenFromText(parameters);
    panel.DoInitialize(&host.main, doc.Root());
  }
  ~TPanel() { panel.DoFinalize(); }
  // What the instrument link would hand the panel's "command" input.
  void Receive(CDevCommand* packet) {
    commandIn.AddPacket(packet);
    commandIn.NotifySubscribers();
  }
  void ReceiveValue(double v) {
    valueIn.AddPacket(new CDoublePacket(v));
    valueIn.NotifySubscribers();
  }
  // The instrument's answer: the given values in the panel's format.
  CDevParameter* Answer(int pid, std::initializer_list<double> v, unsigned char bytes, unsigned char fract,
                        short status = 0) {
    auto* a = new CDevParameter(static_cast<unsigned short>(pid), static_cast<unsigned>(v.size()), bytes, fract, MI_SET);
    int i = 0;
    for (double x : v) a->SetValue(i++, x);
    a->SetStatus(status);
    return a;
  }
  template <class T>
  T* Widget(const char* name) {
    return panel.ToolWindow() ? panel.ToolWindow()->findChild<T*>(name) : nullptr;
  }

  int valueQueueSize;
  CPacketQueue commandIn{16};
  CPacketQueue valueIn{16};
  TTap command;
  TTap values[3];
  VKCore::CXMLDocument doc{false};
  TConstPanel panel;
};

}  // namespace paneltest
