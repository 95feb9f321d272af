# orv_hot_sources(file...): marks sources of the folder as holding hot loops (the kernels of
# orv/lanes.h and the element loops around them). They are built with -O3, which vectorises
# element-wise loops; without errno from the maths functions, so that square roots are plain
# instructions; and without trapping maths, so that conditional steps become selects. None of
# these changes a value: no reassociation, no contraction, no fast-math.
function(orv_hot_sources)
  set_source_files_properties(${ARGN} DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
    PROPERTIES COMPILE_OPTIONS "-O3;-fno-math-errno;-fno-trapping-math")
endfunction()
