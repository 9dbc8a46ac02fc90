# The layering, enforced twice. At configure time this check scans each layer's .h and .cpp
# files for `#include "layer/..."` (or <layer/...>) and fails, naming file and line, when a
# folder uses a layer it may not; the Qt-free layers are also kept free of Qt headers. At
# compile time brevanto_layer_include_roots() gives each layer's targets an include root
# that holds only the layers it may use, so an upward include is "No such file" as well.
#
# Used two ways:
#   include(cmake/CheckLayerIncludes.cmake) + brevanto_check_layer_includes(<root>)
#   cmake -DBREVANTO_LAYER_ROOT=<root> -P cmake/CheckLayerIncludes.cmake

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  # Script mode starts with no policies set; if(IN_LIST) needs them.
  cmake_minimum_required(VERSION 3.25)
endif()

# The one place the layering is written down (CONTRIBUTING.md draws it). Each layer may
# include itself and the layers listed after its name; any other layer is forbidden.
# logs/ uses tasks/ (the shared date format); notify/ sits between schedule/ and appcore/
# and, like appcore/, never reaches engines/ — the program plugs engines in from ui/ and app/.
# remote/ (off-site stores: S3, SFTP, rclone) knows only tasks' settings, so engines/ and ui/
# both use it.
set(BREVANTO_LAYERS core tasks logs schedule remote engines notify appcore ui app)
set(BREVANTO_LAYER_USES_core)
set(BREVANTO_LAYER_USES_tasks core)
set(BREVANTO_LAYER_USES_logs core tasks)
set(BREVANTO_LAYER_USES_schedule core tasks logs)
set(BREVANTO_LAYER_USES_remote core tasks)
set(BREVANTO_LAYER_USES_engines core tasks logs schedule remote)
set(BREVANTO_LAYER_USES_notify core tasks logs schedule)
set(BREVANTO_LAYER_USES_appcore core tasks logs schedule notify)
set(BREVANTO_LAYER_USES_ui core tasks logs schedule remote engines notify appcore)
set(BREVANTO_LAYER_USES_app core tasks logs schedule remote engines notify appcore ui)
set(BREVANTO_QT_FREE_LAYERS core tasks logs schedule remote engines notify appcore)

# 1-based line of the first line of `content` that starts with `needle` (anchored, so a
# comment quoting the same include earlier does not take its place).
function(_brevanto_line_of content needle out)
  string(FIND "\n${content}" "\n${needle}" pos)
  string(SUBSTRING "${content}" 0 ${pos} before)
  string(REGEX REPLACE "[^\n]" "" newlines "${before}")
  string(LENGTH "${newlines}" count)
  math(EXPR count "${count} + 1")
  set(${out} ${count} PARENT_SCOPE)
endfunction()

function(brevanto_check_layer_includes root)
  set(problems "")
  foreach(layer IN LISTS BREVANTO_LAYERS)
    if(NOT IS_DIRECTORY "${root}/${layer}")
      continue()
    endif()
    set(allowed ${layer} ${BREVANTO_LAYER_USES_${layer}})
    list(JOIN BREVANTO_LAYER_USES_${layer} "/, " allowed_text)
    if(allowed_text STREQUAL "")
      set(allowed_text "no other layer")
    else()
      string(APPEND allowed_text "/")
    endif()
    list(FIND BREVANTO_QT_FREE_LAYERS ${layer} qt_free)
    file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${root}"
         "${root}/${layer}/*.h" "${root}/${layer}/*.cpp")
    list(SORT files)
    foreach(file IN LISTS files)
      # Only lines that start with the directive: commented-out includes do not count.
      file(STRINGS "${root}/${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
      foreach(line IN LISTS lines)
        set(used "")
        if(line MATCHES "include[ \t]*[<\"]([A-Za-z0-9_]+)/")
          set(used ${CMAKE_MATCH_1})
        endif()
        set(why "")
        if(used AND used IN_LIST BREVANTO_LAYERS AND NOT used IN_LIST allowed)
          set(why "${layer}/ may not use ${used}/ (it may use ${allowed_text})")
        elseif(qt_free GREATER -1 AND line MATCHES "include[ \t]*<(Qt|Q[A-Z][A-Za-z]*>)")
          set(why "${layer}/ is Qt-free")
        endif()
        if(why)
          if(NOT DEFINED content_of_${file})
            file(READ "${root}/${file}" content_of_${file})
          endif()
          _brevanto_line_of("${content_of_${file}}" "${line}" line_no)
          string(STRIP "${line}" directive)
          string(APPEND problems "  ${file}:${line_no}: ${directive}: ${why}\n")
        endif()
      endforeach()
    endforeach()
  endforeach()
  if(problems)
    message(FATAL_ERROR
      "A layer includes one it may not use (layers: core, tasks, logs, schedule, engines, "
      "notify, appcore, ui, app; see CONTRIBUTING.md and cmake/CheckLayerIncludes.cmake):\n"
      "${problems}")
  endif()
endfunction()

# Every buildsystem target defined in <dir> and its subfolders.
function(_brevanto_targets_below dir out)
  get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    _brevanto_targets_below("${subdir}" more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# brevanto_layer_include_roots(): call after the layer folders are added. Writes
# <build>/layer-includes/<layer>/ holding a link to each layer it may use (itself included)
# and makes that folder the only project include root of every target the layer's folder
# defines. Folders outside the layers (tests/, bench/, fuzz/) add the source root themselves.
function(brevanto_layer_include_roots)
  get_property(added DIRECTORY "${CMAKE_SOURCE_DIR}" PROPERTY SUBDIRECTORIES)
  foreach(layer IN LISTS BREVANTO_LAYERS)
    # Not every build adds every layer (BREVANTO_BUILD_UI=OFF leaves out ui/).
    if(NOT "${CMAKE_SOURCE_DIR}/${layer}" IN_LIST added)
      continue()
    endif()
    set(root "${CMAKE_BINARY_DIR}/layer-includes/${layer}")
    file(MAKE_DIRECTORY "${root}")
    set(allowed ${layer} ${BREVANTO_LAYER_USES_${layer}})
    foreach(other IN LISTS BREVANTO_LAYERS)
      if(other IN_LIST allowed)
        file(CREATE_LINK "${CMAKE_SOURCE_DIR}/${other}" "${root}/${other}" SYMBOLIC)
      else()
        # A link left from an earlier, wider list (file(REMOVE) unlinks, never follows).
        file(REMOVE "${root}/${other}")
      endif()
    endforeach()
    _brevanto_targets_below("${CMAKE_SOURCE_DIR}/${layer}" targets)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|OBJECT_LIBRARY|MODULE_LIBRARY|EXECUTABLE)$")
        target_include_directories(${target} PRIVATE "${root}")
      endif()
    endforeach()
  endforeach()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT BREVANTO_LAYER_ROOT)
    message(FATAL_ERROR "usage: cmake -DBREVANTO_LAYER_ROOT=<source root> -P ${CMAKE_CURRENT_LIST_FILE}")
  endif()
  brevanto_check_layer_includes("${BREVANTO_LAYER_ROOT}")
endif()
