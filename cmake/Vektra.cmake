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
