# The marker and report units, listed once: KorChartLib compiles them, and
# the diagram plug-in compiles them again with its differences
# (KORCHART_DIAGRAM_BUILD; see markers/BuildVariant.h).
set(KORCHART_MARKER_UNITS
  ${CMAKE_CURRENT_LIST_DIR}/markers/Searches.h ${CMAKE_CURRENT_LIST_DIR}/markers/Searches.cpp
)
