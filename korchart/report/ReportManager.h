#pragma once
// The report manager form: a page with the chart's picture, its markers
// and link markers as tables, and the operator's title and notes; printed
// (A4, 10 mm margins, either orientation; to a PDF file as well), previewed,
// or exported as an HTML page with a picture of the chart beside it.
//
// The printed page is drawn part by part with a painter on the printer (text
// as text, the chart as lines), the tables in the page's width, a part that
// does not fit going on to the next page. The report shows what the chart
// shows: hidden series and series without data stay out.
//
// The form reads the chart and its markers each time it is shown. The
// diagram's build draws its picture at the chart's size and writes an SVG of
// the chart too; it takes the series' report titles from its owner.
#include <QDialog>
#include <QPointer>

#include <string>
#include <vector>

#include "markers/BuildVariant.h"
#include "report/ReportContent.h"

class QCheckBox;
class QCPPainter;
class QCustomPlot;
class QLabel;
class QLineEdit;
class QListWidget;
class QPainter;
class QPlainTextEdit;
class QPrinter;
class QPushButton;
class QScrollArea;
class QTableWidget;
class QToolButton;

namespace korchart {
KORCHART_VARIANT_BEGIN

class MarksManager;

class TfrmReportManager : public QDialog {
 public:
  // `chart` is the chart reported on; `marks` its markers (null: none).
  TfrmReportManager(QWidget* parent, QCustomPlot* chart, MarksManager* marks);
  ~TfrmReportManager() override;

  // The series' names in the report, in the order of the chart's titled
  // series; empty (the default) lets the form name them itself.
  void SetSeriesTitles(std::vector<std::string> titles) { seriesTitles_ = std::move(titles); }
  // Reads the chart and the markers again (done whenever the form is shown).
  void Fill();
  // The form modally.
  int ShowModal();

  // "Экспорт в HTML..." without the dialog: the page, and the picture beside
  // it. False (after "Ошибка при сохранении") when the target cannot be
  // written. `templatePath` empty: "Data/Report.dat" beside the program.
  bool ExportHtml(const std::string& target, const std::string& templatePath = std::string());
  // The page on a printer (or a PDF file): true when it was drawn.
  bool PrintTo(QPrinter* printer);
  // "Печать": the print dialog, then the page.
  void Print();
  // "Просмотр...": the print preview.
  void Preview();

  // The tables as they stand (the operator may have edited them).
  TTable MarkersTableText() const;
  TTable LinksTableText() const;
  QCustomPlot* ReportChart() const { return reportChart_; }
  bool Landscape() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildPage();
  void BuildPanel();
  void FillChart();
  void FillTables();
  void UpdateParts();
  void UpdatePageSize();
  QImage ChartPicture(QSize size) const;
  // The legend below the plot in as many columns as `width` holds.
  void ArrangeLegend(int width) const;
  // The page drawn on the printer, `page` big in its units; a part that
  // does not fit on the rest of a page goes on the next.
  void PaintPages(QCPPainter* painter, QPrinter* printer, const QSizeF& page) const;
  void PutTable(QTableWidget* grid, const TTable& table) const;
  // The columns within the page's width (squeezed and wrapped when wider).
  void FitColumns(QTableWidget* grid) const;
  static TTable TableText(const QTableWidget* grid);

  QPointer<QCustomPlot> chart_;
  MarksManager* marks_;
  std::vector<std::string> seriesTitles_;
  std::vector<int> printedSeries_;  // series numbers listed in "Трассы"

  // The page.
  QScrollArea* scroll_ = nullptr;
  QWidget* page_ = nullptr;
  QLabel* memo_ = nullptr;
  QLabel* stamp_ = nullptr;
  QLabel* date_ = nullptr;
  QLabel* title_ = nullptr;
  QCustomPlot* reportChart_ = nullptr;
  QTableWidget* markersGrid_ = nullptr;
  QTableWidget* linksGrid_ = nullptr;
  // The panel.
  QLineEdit* editTitle_ = nullptr;
  QListWidget* seriesList_ = nullptr;
  QPlainTextEdit* memoInfo_ = nullptr;
  QToolButton* portrait_ = nullptr;
  QToolButton* landscape_ = nullptr;
  QCheckBox* printData_ = nullptr;
  QCheckBox* printMarkers_ = nullptr;
  QCheckBox* printChart_ = nullptr;
  QCheckBox* printDate_ = nullptr;
  QCheckBox* printLinks_ = nullptr;
  bool filling_ = false;
};

KORCHART_VARIANT_END
}  // namespace korchart
