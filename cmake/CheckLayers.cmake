# Checks that includes flow downward: every #include "…" of a source file under
# ROOT must name a header of the file's own layer or of a layer below it, in
# the order of cmake/Layers.cmake. Prints one line per upward include and
# fails when there is any, or when a file belongs to no layer.
#
#   cmake -DROOT=<src folder> -P cmake/CheckLayers.cmake
#
# An include is looked up from ROOT first, then from the including file's
# folder, as the compiler does with src/ on its include path; one that names no
# file of the tree (a system or generated header) is not the tree's concern.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/Layers.cmake)

if(NOT ROOT OR NOT IS_DIRECTORY "${ROOT}")
  message(FATAL_ERROR "CheckLayers: ROOT must name the source folder to check")
endif()
file(REAL_PATH "${ROOT}" ROOT)

file(GLOB_RECURSE _files RELATIVE "${ROOT}" "${ROOT}/*.h" "${ROOT}/*.cpp")
list(SORT _files)
set(_problems 0)
foreach(_file IN LISTS _files)
  quorvel_layer_of("${_file}" _layer)
  if(NOT _layer)
    message("no layer: ${_file}")
    math(EXPR _problems "${_problems} + 1")
    continue()
  endif()
  list(FIND QUORVEL_LAYERS ${_layer} _rank)
  get_filename_component(_folder "${_file}" DIRECTORY)
  file(STRINGS "${ROOT}/${_file}" _lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(_line IN LISTS _lines)
    if(NOT _line MATCHES "include[ \t]*\"([^\"]+)\"")
      continue()
    endif()
    set(_include "${CMAKE_MATCH_1}")
    if(EXISTS "${ROOT}/${_include}")
      set(_target "${_include}")
    elseif(EXISTS "${ROOT}/${_folder}/${_include}")
      cmake_path(SET _target NORMALIZE "${_folder}/${_include}")
    else()
      continue()
    endif()
    quorvel_layer_of("${_target}" _targetLayer)
    if(NOT _targetLayer)
      continue() # reported as a file of no layer in its own turn
    endif()
    list(FIND QUORVEL_LAYERS ${_targetLayer} _targetRank)
    if(_targetRank GREATER _rank)
      message("upward include: ${_file} includes \"${_include}\" (${_layer} below ${_targetLayer})")
      math(EXPR _problems "${_problems} + 1")
    endif()
  endforeach()
endforeach()

list(LENGTH _files _count)
if(_problems GREATER 0)
  message(FATAL_ERROR "CheckLayers: ${_problems} problem(s) in ${_count} files; the layers, lowest first: ${QUORVEL_LAYERS}")
endif()
message(STATUS "CheckLayers: ${_count} files, every include flows downward")
