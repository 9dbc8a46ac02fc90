# Runs cmake/CheckLayerIncludes.cmake in script mode on small trees written here and checks
# that it fails on a forbidden include (naming file, line and layer) and passes on an
# allowed one.
#   cmake -DCHECK_SCRIPT=<CheckLayerIncludes.cmake> -DWORK_DIR=<scratch dir> -P LayerIncludesTest.cmake
cmake_minimum_required(VERSION 3.25)

set(failures "")

# tree(<name> <relative path> <content> [<relative path> <content>]...)
function(tree name)
  set(dir "${WORK_DIR}/${name}")
  file(REMOVE_RECURSE "${dir}")
  file(MAKE_DIRECTORY "${dir}")
  set(args ${ARGN})
  list(LENGTH args n)
  math(EXPR last "${n} - 1")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET args ${i} path)
    list(GET args ${j} content)
    file(WRITE "${dir}/${path}" "${content}")
  endforeach()
endfunction()

function(run name out_rc out_text)
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DBREVANTO_LAYER_ROOT=${WORK_DIR}/${name}" -P "${CHECK_SCRIPT}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${out_rc} "${rc}" PARENT_SCOPE)
  set(${out_text} "${out}${err}" PARENT_SCOPE)
endfunction()

macro(expect_failure name)
  run(${name} rc text)
  if(rc EQUAL 0)
    string(APPEND failures "${name}: the check passed, expected it to fail\n")
  endif()
  foreach(wanted ${ARGN})
    string(FIND "${text}" "${wanted}" at)
    if(at EQUAL -1)
      string(APPEND failures "${name}: output lacks \"${wanted}\":\n${text}\n")
    endif()
  endforeach()
endmacro()

macro(expect_success name)
  run(${name} rc text)
  if(NOT rc EQUAL 0)
    string(APPEND failures "${name}: the check failed, expected it to pass:\n${text}\n")
  endif()
endmacro()

# The line number counts blank lines and skips a comment quoting the same include; both
# offending files are reported, not just the first.
tree(upward
  "core/Options.cpp" "// never #include \"ui/MainWindow.h\" here\n\n#include \"core/Options.h\"\n#include \"ui/MainWindow.h\"\n"
  "tasks/TaskList.h" "#pragma once\n#include \"core/Status.h\"\n#include \"appcore/Core.h\"\n"
  "ui/MainWindow.h" "#pragma once\n")
expect_failure(upward
  "core/Options.cpp:4: #include \"ui/MainWindow.h\": core/ may not use ui/ (it may use no other layer)"
  "tasks/TaskList.h:3: #include \"appcore/Core.h\": tasks/ may not use appcore/ (it may use core/)")

# A subfolder counts as its layer; angle brackets and spaces after # are still includes.
# schedule/ is below engines/ even though both are in the middle of the stack.
tree(sideways
  "schedule/workers/Runner.cpp" "#  include <engines/Dump.h>\n"
  "engines/Dump.h" "#pragma once\n")
expect_failure(sideways "schedule/workers/Runner.cpp:1:" "schedule/ may not use engines/")

# appcore/ and notify/ stay clear of engines/, also in an indented conditional include;
# Qt stays out of the Qt-free layers.
tree(appcore_engines "appcore/Core.cpp" "#ifdef WITH_ENGINES\n  #include \"engines/Routines.h\"\n#endif\n")
expect_failure(appcore_engines "appcore/Core.cpp:2:" "appcore/ may not use engines/")
tree(qt_in_core "core/Text.h" "#pragma once\n#include <QString>\n")
expect_failure(qt_in_core "core/Text.h:2: #include <QString>: core/ is Qt-free")

# Allowed: downward and same-layer includes, commented-out ones, libraries whose first path
# part is not a layer, Qt in ui/, and anything from folders that are not layers (tests/).
tree(clean
  "core/Status.h" "#pragma once\n#include <string>\n"
  "logs/LogExport.cpp" "#include \"tasks/DisplayDateTime.h\"\n// #include \"ui/MainWindow.h\"\n"
  "notify/Notifier.h" "#include \"schedule/RunReport.h\"\n#include <nlohmann/json.hpp>\n"
  "ui/dialogs/Options.cpp" "#include <QDialog>\n#include \"appcore/Core.h\"\n#include \"engines/Routines.h\"\n#include \"ui/Dialogs.h\"\n"
  "app/Main.cpp" "#include \"ui/MainWindow.h\"\n#include \"engines/Routines.h\"\n"
  "tests/ui/Test.cpp" "#include \"ui/MainWindow.h\"\n")
expect_success(clean)

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
