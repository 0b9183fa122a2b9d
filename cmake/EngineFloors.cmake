# The engine is built floor by floor: each engine folder is a library of its own that sees
# only itself and the folders it stands on. Its include path is a folder of links to
# exactly those folders, so an include that runs the wrong way does not compile ("No such
# file or directory"), however cheap it looks. marrowdyne_engine gathers every floor.

add_library(marrowdyne_engine INTERFACE)
# The faces (the programs, the tests, the benchmarks, the fuzzers) see every floor and the
# source folder with their own.
add_library(marrowdyne_faces INTERFACE)
target_link_libraries(marrowdyne_faces INTERFACE marrowdyne_engine)
target_include_directories(marrowdyne_faces INTERFACE ${CMAKE_SOURCE_DIR})

# marro_include_view(TARGET FOLDER...): TARGET includes the folders named and no others.
function(marro_include_view target)
  set(view "${CMAKE_BINARY_DIR}/floors/${target}")
  file(REMOVE_RECURSE "${view}")
  file(MAKE_DIRECTORY "${view}")
  foreach(seen IN LISTS ARGN)
    file(CREATE_LINK "${CMAKE_SOURCE_DIR}/${seen}" "${view}/${seen}" SYMBOLIC)
  endforeach()
  target_include_directories(${target} PUBLIC "${view}")
endfunction()

# marro_engine_floor(FOLDER [BELOW FOLDER...]): the library marrowdyne_FOLDER, built from
# the sources its folder adds, linked to the floors below it (and through them to theirs).
function(marro_engine_floor folder)
  cmake_parse_arguments(PARSE_ARGV 1 floor "" "" "BELOW")
  set(visible ${folder})
  foreach(below IN LISTS floor_BELOW)
    get_property(below_visible GLOBAL PROPERTY MARRO_FLOOR_${below})
    if(NOT below_visible)
      message(FATAL_ERROR "Engine floor ${folder} stands on ${below}, which is not built yet")
    endif()
    list(APPEND visible ${below_visible})
  endforeach()
  list(REMOVE_DUPLICATES visible)
  set_property(GLOBAL PROPERTY MARRO_FLOOR_${folder} ${visible})

  set(target marrowdyne_${folder})
  add_library(${target} STATIC)
  marro_include_view(${target} ${visible})
  list(TRANSFORM floor_BELOW PREPEND marrowdyne_)
  target_link_libraries(${target} PUBLIC ${floor_BELOW})
  target_link_libraries(marrowdyne_engine INTERFACE ${target})
endfunction()
