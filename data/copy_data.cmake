# cmake -DSRC=<data dir> -DDST=<program folder> -P copy_data.cmake
file(GLOB_RECURSE files RELATIVE "${SRC}" "${SRC}/*")
foreach(f IN LISTS files)
  if(f STREQUAL "CMakeLists.txt" OR f STREQUAL "copy_data.cmake")
    continue()
  endif()
  get_filename_component(dir "${DST}/${f}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  # copy_if_different keeps timestamps of unchanged files; permissions are kept by file(COPY).
  execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${SRC}/${f}" "${DST}/${f}")
endforeach()
