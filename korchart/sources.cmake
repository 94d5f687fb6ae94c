# The marker and report units, listed once: KorChartLib compiles them, and the diagram
# plug-in compiles them again with its differences (KORCHART_DIAGRAM_BUILD;
# see markers/BuildVariant.h) through korchart_marker_units().
set(KORCHART_MARKER_UNITS
  ${CMAKE_CURRENT_LIST_DIR}/markers/BuildVariant.h
  ${CMAKE_CURRENT_LIST_DIR}/markers/MarkerModel.h
  ${CMAKE_CURRENT_LIST_DIR}/markers/Searches.h ${CMAKE_CURRENT_LIST_DIR}/markers/Searches.cpp
  ${CMAKE_CURRENT_LIST_DIR}/markers/LabelText.h ${CMAKE_CURRENT_LIST_DIR}/markers/LabelText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/markers/MarkCheck.h ${CMAKE_CURRENT_LIST_DIR}/markers/MarkCheck.cpp
  ${CMAKE_CURRENT_LIST_DIR}/markers/MarkerFile.h ${CMAKE_CURRENT_LIST_DIR}/markers/MarkerFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/markers/MarkerTemplateDialog.h ${CMAKE_CURRENT_LIST_DIR}/markers/MarkerTemplateDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/markers/MarkItems.h ${CMAKE_CURRENT_LIST_DIR}/markers/MarkItems.cpp
  ${CMAKE_CURRENT_LIST_DIR}/markers/Metka.h ${CMAKE_CURRENT_LIST_DIR}/markers/Metka.cpp
  ${CMAKE_CURRENT_LIST_DIR}/markers/LinkMarker.h ${CMAKE_CURRENT_LIST_DIR}/markers/LinkMarker.cpp
  ${CMAKE_CURRENT_LIST_DIR}/markers/MarksManager.h ${CMAKE_CURRENT_LIST_DIR}/markers/MarksManager.cpp
  ${CMAKE_CURRENT_LIST_DIR}/markers/MarkProperties.h ${CMAKE_CURRENT_LIST_DIR}/markers/MarkProperties.cpp
  ${CMAKE_CURRENT_LIST_DIR}/markers/MarkLinkProperties.h ${CMAKE_CURRENT_LIST_DIR}/markers/MarkLinkProperties.cpp
  ${CMAKE_CURRENT_LIST_DIR}/limits/LimitLines.h ${CMAKE_CURRENT_LIST_DIR}/limits/LimitLines.cpp
  ${CMAKE_CURRENT_LIST_DIR}/limits/Outcome.h ${CMAKE_CURRENT_LIST_DIR}/limits/Outcome.cpp
  ${CMAKE_CURRENT_LIST_DIR}/limits/LimitDialog.h ${CMAKE_CURRENT_LIST_DIR}/limits/LimitDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/limits/LimitDrawing.h ${CMAKE_CURRENT_LIST_DIR}/limits/LimitDrawing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report/ReportContent.h ${CMAKE_CURRENT_LIST_DIR}/report/ReportContent.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report/ReportManager.h ${CMAKE_CURRENT_LIST_DIR}/report/ReportManager.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report/CsvExport.h ${CMAKE_CURRENT_LIST_DIR}/report/CsvExport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report/DisplayQuery.h ${CMAKE_CURRENT_LIST_DIR}/report/DisplayQuery.cpp
  ${CMAKE_CURRENT_LIST_DIR}/resources/korchart.qrc
)

# korchart_marker_units(NAME DIAGRAM on|off): an OBJECT library of the marker
# units in one variant. The diagram's variant has hidden symbols (and its own
# inline namespace), so that it never binds to the chart library's copy
# loaded into the same process.
function(korchart_marker_units name)
  cmake_parse_arguments(K "" "DIAGRAM" "" ${ARGN})
  add_library(${name} OBJECT ${KORCHART_MARKER_UNITS})
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON AUTORCC ON)
  target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_FUNCTION_LIST_DIR}>)
  target_link_libraries(${name} PUBLIC LinkCore KorvanComponents QCustomPlotQt6::QCustomPlotQt6
    Qt6::PrintSupport Qt6::Svg)
  target_compile_definitions(${name} PUBLIC QCUSTOMPLOT_USE_LIBRARY)
  if(K_DIAGRAM)
    target_compile_definitions(${name} PUBLIC KORCHART_DIAGRAM_BUILD=1)
    set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  endif()
endfunction()
