# Helpers shared by the deliverables' build files.

# vk_shared_library(NAME SOURCES...): a deliverable shared library in bin/.
function(vk_shared_library name)
  add_library(${name} SHARED ${ARGN})
  set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${name} LIBRARY DESTINATION bin RUNTIME DESTINATION bin)
endfunction()

# vk_program(NAME SOURCES...): a program in bin/.
function(vk_program name)
  add_executable(${name} ${ARGN})
  set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${name} RUNTIME DESTINATION bin)
endfunction()

# vk_version_block(TARGET DESCRIPTION text): embeds the program information
# of TARGET in its own ELF section ".vk_version", read later from the file
# without loading it. Layout of the section: "VKVERSION\0", the table key
# "041904E3\0", then key\0value\0 pairs, and a closing "\0".
function(vk_version_block target)
  cmake_parse_arguments(V "" "DESCRIPTION" "" ${ARGN})
  set(VK_FILE_DESCRIPTION "${V_DESCRIPTION}")
  set(VK_TARGET_NAME "${target}")
  set(out ${CMAKE_BINARY_DIR}/version/${target}_version.c)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version_block.c.in ${out} @ONLY)
  target_sources(${target} PRIVATE ${out})
endfunction()

# vk_plugin_package(NAME SOURCES...): a plug-in package bin/Plugins/NAME.so,
# linked against LinkCore, found next to the launcher's libraries.
function(vk_plugin_package name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${VK_PLUGINS_DIR}
    INSTALL_RPATH "$ORIGIN/.."
    BUILD_WITH_INSTALL_RPATH ON)
  target_link_libraries(${name} PRIVATE LinkCore)
  install(TARGETS ${name} LIBRARY DESTINATION bin/Plugins)
endfunction()

# vk_plugin_units(NAME DESCRIPTION text SOURCES ... [LIBS ...]): a plug-in
# package NAME whose units are compiled once, as the object library
# NAMEUnits, which the package, its tests and its benchmarks all take. Qt
# resources (.qrc) among the sources are compiled in.
function(vk_plugin_units name)
  cmake_parse_arguments(P "" "DESCRIPTION" "SOURCES;LIBS" ${ARGN})
  add_library(${name}Units OBJECT ${P_SOURCES})
  set_target_properties(${name}Units PROPERTIES AUTORCC ON)
  target_include_directories(${name}Units PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name}Units PUBLIC LinkCore Qt6::Widgets ${P_LIBS})
  vk_plugin_package(${name} $<TARGET_OBJECTS:${name}Units>)
  target_link_libraries(${name} PRIVATE ${name}Units)
  vk_version_block(${name} DESCRIPTION "${P_DESCRIPTION}")
endfunction()
