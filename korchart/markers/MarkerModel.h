#pragma once
// What a marker set is made of, as plain data: each marker's parameters,
// each link marker's formula and texts, and the series they refer to. The
// marker machinery, its dialogs and its files (.mrk, the preset library)
// all speak these types.
#include <array>
#include <string>
#include <vector>

#include "limits/LimitLines.h"
#include "markers/BuildVariant.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

constexpr int kMarkerCount = 10;
constexpr int kLinkMarkerCount = 10;
// At most this many series are read by the markers.
constexpr int kMaxSeries = 20;
// The help context of the markers' windows.
constexpr int kMarkersHelpContext = 1105;

// What a marker does on every update.
enum class EMarkAction { Free = 0, Minimum = 1, Maximum = 2, Fixed = 3 };

// A marker's parameters. Series are numbered from 1 (0: none) in the order
// of the chart's titled series.
struct SMarkParams {
  bool enabled = false;  // active
  bool visible = true;   // not hidden
  double position = 0;   // the argument; -1: not found
  EMarkAction action = EMarkAction::Free;
  int linkTrace = 0;  // the series searched
  bool deltaMeasure = false;
  int deltaTrace = 0;  // the second series of a level difference
  double limitMin = 0;
  double limitMax = 20000;
  // The offset from the extremum of a minimum or maximum search, and the
  // level itself of a fixed-level search (the dialog's "Смещение", in the
  // series' units).
  double divergence = 0;
  bool divergenceRight = false;  // the default direction is left
  bool extremeMode = false;      // "Автопоиск"
  bool tracking = true;          // "Слежение"
  bool parked = false;
  bool showStatistics = false;
  int framePos = 100;  // the label's position
  int argumentDigits = 3;
  int valueDigits = 2;
  // Whether each series (index 0 = series 1) is shown in the label.
  std::array<bool, kMaxSeries> shownSeries{};
  // The tolerance of the reading on the series searched, for the display's
  // verdict (none by default).
  TValueLimits readingLimits;
  SMarkParams() { shownSeries.fill(true); }
};

// A link marker: a formula over two markers' readings.
struct SLinkParams {
  bool used = false;
  int markerA = 0;
  int markerB = 1;
  int framePos = 100;
  std::string description;
  std::string expression = "(а.арг-б.арг)^2^0.5";
  std::string print;  // the print template ("%зн", "%мин", ...); empty: the value
  TValueLimits limits;  // the value's minimum and maximum for the display's verdict
  // Whether the template asks for statistics.
  bool WantsStatistics() const;
};

// A formula kept in the preset library: description, expression, print.
struct SRelationPreset {
  std::string description;
  std::string expression;
  std::string print;
};

// A series as the markers and their dialogs see it.
struct TSeriesInfo {
  std::string title;
  unsigned color = 0;  // 0xRRGGBB
  std::string units;
  bool active = true;
};

// The whole marker set as it is saved: the markers by index, and the link
// markers in use. Series are named by title in files.
struct TMarkerSet {
  std::array<SMarkParams, kMarkerCount> markers;
  // The titles of the link trace and of the second series, by marker ("" for
  // none); kept apart from the numbers because files name series by title.
  std::array<std::string, kMarkerCount> linkTitles;
  std::array<std::string, kMarkerCount> deltaTitles;
  // The titles of the series each marker's label shows, with their value
  // digits. Empty: all, unless `linesListed` says that the list is complete
  // (a label may show no series at all).
  std::array<std::vector<std::pair<std::string, int>>, kMarkerCount> lineTitles;
  std::array<bool, kMarkerCount> linesListed{};
  // The series the markers had when the set was taken from them (a set kept
  // across a change of series): one that was not among them comes into the
  // labels shown. A file does not know them: what its lists leave out is
  // not shown.
  bool knowsSeries = false;
  std::vector<std::string> knownSeries;
  std::array<SLinkParams, kLinkMarkerCount> links;
};

KORCHART_VARIANT_END
}  // namespace korchart
