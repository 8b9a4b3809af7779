# A library is one folder of the tree: every .cpp and .h directly in it, the
# other system's files left out (NAME_unix.cpp on Windows, NAME_win.cpp
# elsewhere). Its headers are included as "FOLDER/NAME.h" through an include
# root of its own in the build tree that holds links to this folder's headers
# and nothing else. A library sees its own root and the roots of the
# libraries it links, so an include that climbs a layer does not compile.
#   zuk_library(NAME FOLDER LINKS lib...)    a static library
#   zuk_program(NAME FOLDER LINKS lib...)    a program: FOLDER's main.cpp and
#                                            the sources beside it

function(zuk_folder_files folder sources_var headers_var)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.h)
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_unix\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "_win\\.cpp$")
  endif()
  set(${sources_var} ${sources} PARENT_SCOPE)
  set(${headers_var} ${headers} PARENT_SCOPE)
endfunction()

function(zuk_include_root name folder headers)
  set(root ${CMAKE_BINARY_DIR}/include/${name})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root}/${folder})
  foreach(header IN LISTS headers)
    get_filename_component(file ${header} NAME)
    file(CREATE_LINK ${header} ${root}/${folder}/${file} SYMBOLIC COPY_ON_ERROR)
  endforeach()
  set(ZUK_ROOT ${root} PARENT_SCOPE)
endfunction()

function(zuk_library name folder)
  cmake_parse_arguments(ARG "" "" "LINKS" ${ARGN})
  zuk_folder_files(${folder} sources headers)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  zuk_include_root(${name} ${folder} "${headers}")
  add_library(${name} STATIC ${sources} ${headers})
  target_include_directories(${name} PUBLIC ${ZUK_ROOT})
  target_link_libraries(${name} PUBLIC ${ARG_LINKS})
endfunction()

function(zuk_program name folder)
  cmake_parse_arguments(ARG "" "" "LINKS" ${ARGN})
  zuk_folder_files(${folder} sources headers)
  zuk_include_root(${name} ${folder} "${headers}")
  add_executable(${name} ${sources} ${headers})
  target_include_directories(${name} PRIVATE ${ZUK_ROOT})
  target_link_libraries(${name} PRIVATE ${ARG_LINKS})
endfunction()
