#pragma once
// Connects the application to its help file (Qt Help): topics by page name,
// pages by context number, and F1 on any widget that carries a help context.
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <memory>

#include "VKTypes.h"

class QHelpEngineCore;
class QWidget;

namespace vkhelp {
class THelpWindow;
}

class CHelpManager : public QObject {
  Q_OBJECT

 public:
  // The help commands of the application's help requests.
  enum { HELP_CONTEXT = 1, HELP_CONTEXTPOPUP = 8 };
  // The widget property that carries a help context number.
  static constexpr const char* kHelpContextProperty = "helpContext";

  // Becomes the application's help handler (the previous one is restored by
  // the destructor).
  explicit CHelpManager(const char* unused = nullptr);
  ~CHelpManager() override;

  // 0; -1 when the file does not exist ("Не найден файл справки\n…");
  // -2 when the help engine cannot be set up ("Не установлен HTML Help").
  int SetHtmlHelpFile(const AnsiString& file);
  // Opens page `topic` ("about.html") of the help file. Returns 0.
  int ShowTopic(const AnsiString& topic);
  // Opens the page of context number `id`. Returns 0.
  int ShowContext(int id);
  // A help request: contexts (1) and context pop-ups (8) open the context's
  // page and clear `callHelp`. Returns true for every command.
  bool OnHelpEvent(int command, long data, bool& callHelp);
  bool LoadHtmlHelp();
  bool CloseHtmlHelp();

  AnsiString HelpFile() const { return helpFile; }
  // The page the help window shows (empty before the first request).
  QUrl LastShownUrl() const { return lastUrl; }
  QWidget* HelpWindow() const;
  // The help manager that currently answers the application's help requests.
  static CHelpManager* Current();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Show(const QUrl& url);
  QUrl UrlForTopic(const QString& topic) const;

  CHelpManager* previous = nullptr;
  AnsiString helpFile;
  QString nameSpace;
  std::unique_ptr<QHelpEngineCore> engine;
  QPointer<vkhelp::THelpWindow> window;
  QUrl lastUrl;
};
