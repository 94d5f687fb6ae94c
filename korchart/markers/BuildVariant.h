#pragma once
// The marker and report units are built twice: into KorChartLib (the chart
// build) and into the diagram plug-in (KORCHART_DIAGRAM_BUILD), which
// differs in how failed checks are reported and in its reports. The
// differences are these compile-time flags, used with `if constexpr`; each
// build puts its classes in an inline namespace of its own, so that the two
// copies loaded into one process never bind to each other's code.
#ifndef KORCHART_DIAGRAM_BUILD
#define KORCHART_DIAGRAM_BUILD 0
#endif

#if KORCHART_DIAGRAM_BUILD
#define KORCHART_VARIANT_BEGIN inline namespace diagram {
#else
#define KORCHART_VARIANT_BEGIN inline namespace chart {
#endif
#define KORCHART_VARIANT_END }

namespace korchart {
// True in the diagram plug-in's build.
inline constexpr bool kDiagramBuild = KORCHART_DIAGRAM_BUILD != 0;
}  // namespace korchart
