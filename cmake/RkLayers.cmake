# The layers of the code, lowest first, each with what its files may include
# besides their own folder: a folder below it, or one named header. A file
# that includes a header of any other layer folder stops the configuration
# (and the build, which checks again whenever a source changes).
# docs/ARCHITECTURE.md draws the same graph.
cmake_policy(VERSION 3.25)
set(RK_LAYERS
  "base:"
  "codec:base"
  "ui:base"
  "card:ui base"
  "convert:codec base"
  "media:card codec convert ui base"
  "effects:media card codec convert ui base"
  "app:effects media card codec convert ui base"
  "cli:effects media card codec convert ui base app/settings.h")

# rk_check_layers(ROOT DIR LAYERS "folder:allowed..."...): every .h and .cpp
# under ROOT/folder is read for #include "x/..." lines naming a layer folder.
function(rk_check_layers)
  cmake_parse_arguments(A "" "ROOT" "LAYERS" ${ARGN})
  set(folders "")
  foreach(layer ${A_LAYERS})
    string(REGEX REPLACE ":.*" "" folder "${layer}")
    list(APPEND folders ${folder})
  endforeach()
  set(faults "")
  foreach(layer ${A_LAYERS})
    string(REGEX REPLACE ":.*" "" folder "${layer}")
    string(REGEX REPLACE "^[^:]*:" "" allowed "${layer}")
    separate_arguments(allowed UNIX_COMMAND "${allowed}")
    file(GLOB_RECURSE files RELATIVE ${A_ROOT} ${A_ROOT}/${folder}/*.h ${A_ROOT}/${folder}/*.cpp)
    list(SORT files)
    foreach(file ${files})
      file(STRINGS ${A_ROOT}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[A-Za-z0-9_]+/")
      foreach(line ${lines})
        string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" header "${line}")
        string(REGEX REPLACE "/.*" "" top "${header}")
        if(top STREQUAL folder OR NOT top IN_LIST folders OR top IN_LIST allowed OR header IN_LIST allowed)
          continue()
        endif()
        string(REPLACE ";" " " may "${allowed}")
        if(may STREQUAL "")
          set(may "no other layer")
        endif()
        list(APPEND faults "  ${file} includes ${header} (${folder}/ may include: ${may})\n")
      endforeach()
    endforeach()
  endforeach()
  if(faults)
    string(REPLACE ";" "" faults "${faults}")
    message(FATAL_ERROR "A header of a layer above is included (cmake/RkLayers.cmake):\n${faults}")
  endif()
endfunction()

# Run as a script (cmake -DRK_SOURCE_DIR=... -DSTAMP=... -P RkLayers.cmake),
# the build's own check of the project.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  rk_check_layers(ROOT ${RK_SOURCE_DIR} LAYERS ${RK_LAYERS})
  if(STAMP)
    file(TOUCH ${STAMP})
  endif()
endif()
