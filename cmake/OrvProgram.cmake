# orv_add_program(name MAIN file DEPS lib...): a command-line program whose
# work lives in a static library `${name}_core` (every *.cpp of the folder but
# the MAIN file), so that tests and benchmarks link the same code the program
# runs; the executable `name` is built from MAIN alone.
function(orv_add_program name)
  cmake_parse_arguments(ARG "" "MAIN" "DEPS" ${ARGN})
  if(NOT ARG_MAIN)
    set(ARG_MAIN main.cpp)
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_MAIN})
  if(sources)
    add_library(${name}_core STATIC ${sources})
    target_include_directories(${name}_core PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name}_core PUBLIC ${ARG_DEPS})
  else()
    add_library(${name}_core INTERFACE)
    target_include_directories(${name}_core INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name}_core INTERFACE ${ARG_DEPS})
  endif()
  add_executable(${name} ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_MAIN})
  target_link_libraries(${name} PRIVATE ${name}_core)
endfunction()
