# Writes the version header (run at every build): the project's version and the source revision
# the build was made from (git's short hash, "+" when the work tree differs from it, "unknown"
# outside a git work tree). The header is only rewritten when its text changes.
execute_process(COMMAND git -C "${SOURCE_DIR}" rev-parse --short=12 HEAD
                OUTPUT_VARIABLE revision OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE failed ERROR_QUIET)
if(failed OR revision STREQUAL "")
  set(revision "unknown")
else()
  execute_process(COMMAND git -C "${SOURCE_DIR}" status --porcelain --untracked-files=no
                  OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT changes STREQUAL "")
    string(APPEND revision "+")
  endif()
endif()
set(text "// Generated at build time.\n#pragma once\n#define VIREO_VERSION \"${VERSION}\"\n#define VIREO_REVISION \"${revision}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
