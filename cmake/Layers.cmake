# The layers of the program, lowest first, and which folders of src/ make each.
# A file may include headers of its own layer and of the layers before it,
# never of a layer after it. The build makes one target per layer from this
# list, and the layering test (cmake/CheckLayers.cmake) checks the includes
# against it, so the order is written here and nowhere else.
#
# scholar and distribution are siblings above search: the installer computes
# the narrator and shared-passage tables with the scholarly tools' code, while
# those tools never need the distribution, so distribution sits above scholar.
set(QUORVEL_ENGINE_LAYERS core search scholar distribution assistant mcp)
# The windows: the widget kit, the views built from it, the shell (the only
# code that makes tab views and knows them all) and, on the top floor, the
# developer harness that drives the shell.
set(QUORVEL_WINDOW_LAYERS kit views shell snapshot)
set(QUORVEL_LAYERS ${QUORVEL_ENGINE_LAYERS} ${QUORVEL_WINDOW_LAYERS})

# Each folder of src/ and its layer. An engine layer is the folder of its name;
# the windows live under ui/, one folder per view family.
set(QUORVEL_LAYER_FOLDERS
  core core
  search search
  scholar scholar
  distribution distribution
  assistant assistant
  mcp mcp
  ui/kit kit
  ui/reader views
  ui/search views
  ui/assistant views
  ui/downloads views
  ui/shell shell
  ui/snapshot snapshot)

# quorvel_layer_of(<path relative to src/> <out variable>)
# The layer a file belongs to, from the folder its path begins with; empty for
# a file of no layer. The entry point at the top of src/ sits above them all.
function(quorvel_layer_of path out)
  set(layer "")
  if(NOT path MATCHES "/")
    list(GET QUORVEL_LAYERS -1 layer)
  else()
    set(_pairs ${QUORVEL_LAYER_FOLDERS})
    while(_pairs)
      list(POP_FRONT _pairs _folder _layer)
      string(LENGTH "${_folder}/" _length)
      string(SUBSTRING "${path}" 0 ${_length} _head)
      if(_head STREQUAL "${_folder}/")
        set(layer ${_layer})
        break()
      endif()
    endwhile()
  endif()
  set(${out} ${layer} PARENT_SCOPE)
endfunction()
