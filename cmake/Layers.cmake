# The layers of the program, lowest first, and which files of src/ make each.
# A file may include headers of its own layer and of the layers before it,
# never of a layer after it. The build makes one target per layer from this
# list, and the layering test (cmake/CheckLayers.cmake) checks the includes
# against it, so the order is written here and nowhere else.
#
# smart and dist are siblings above search: the installer (dist) computes the
# narrator and shared-passage tables with smart's code, while smart never
# needs the distribution, so dist sits above smart.
set(QUORVEL_ENGINE_LAYERS core search smart dist assistant mcp)
# The windows: the widget kit, the views built from it (the reader, the panels
# and every subsystem's ui/ folder) and the shell, the only code that makes
# tab views and knows them all.
set(QUORVEL_WINDOW_LAYERS kit views shell)
set(QUORVEL_LAYERS ${QUORVEL_ENGINE_LAYERS} ${QUORVEL_WINDOW_LAYERS})

# quorvel_layer_of(<path relative to src/> <out variable>)
# The layer a file belongs to; empty for a file of no layer.
function(quorvel_layer_of path out)
  set(layer "")
  if(path MATCHES "^[A-Za-z]+/ui/" OR path MATCHES "^(reader|panels)/")
    set(layer views)
  elseif(path MATCHES "^app/kit/")
    set(layer kit)
  elseif(path MATCHES "^app/" OR path STREQUAL "main.cpp")
    set(layer shell)
  elseif(NOT path MATCHES "/")
    # Headers at the top of src/ (the build's version keys, the application's
    # name) are for every layer.
    set(layer core)
  elseif(path MATCHES "^([A-Za-z]+)/")
    if(CMAKE_MATCH_1 IN_LIST QUORVEL_ENGINE_LAYERS)
      set(layer ${CMAKE_MATCH_1})
    endif()
  endif()
  set(${out} ${layer} PARENT_SCOPE)
endfunction()
