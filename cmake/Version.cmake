# Writes the header that carries the program's version (kv_version.h), run by the build
# every time so that the commit is the one built, not the one configured. The file is
# rewritten only when its text changes, so an unchanged commit rebuilds nothing.
#   cmake -DKV_SOURCE_DIR=... -DKV_VERSION=x.y.z -DKV_OUTPUT=.../kv_version.h -P Version.cmake
# Built from a git work tree, the version names the commit, with "-dirty" when tracked
# files differ from it; built from a plain copy of the sources, the number alone.
set(commit "")
find_program(KV_GIT git)
if(KV_GIT AND EXISTS "${KV_SOURCE_DIR}/.git")
  execute_process(COMMAND "${KV_GIT}" -C "${KV_SOURCE_DIR}" rev-parse --short=7 HEAD
                  OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    set(commit "")
  else()
    execute_process(COMMAND "${KV_GIT}" -C "${KV_SOURCE_DIR}" status --porcelain --untracked-files=no
                    OUTPUT_VARIABLE changes ERROR_QUIET RESULT_VARIABLE rc)
    if(rc EQUAL 0 AND NOT changes STREQUAL "")
      string(APPEND commit "-dirty")
    endif()
  endif()
endif()

string(REPLACE "." ";" parts "${KV_VERSION}")
list(GET parts 0 major)
list(GET parts 1 minor)
list(GET parts 2 patch)
set(text "${KV_VERSION}")
if(NOT commit STREQUAL "")
  set(text "${KV_VERSION} (${commit})")
endif()

set(content "// Made by cmake/Version.cmake at build time; do not edit.
#define KV_VERSION_MAJOR ${major}
#define KV_VERSION_MINOR ${minor}
#define KV_VERSION_PATCH ${patch}
#define KV_VERSION_NUMBER \"${KV_VERSION}\"
#define KV_VERSION_COMMIT \"${commit}\"
#define KV_VERSION_TEXT \"${text}\"
")
set(old "")
if(EXISTS "${KV_OUTPUT}")
  file(READ "${KV_OUTPUT}" old)
endif()
if(NOT old STREQUAL content)
  file(WRITE "${KV_OUTPUT}" "${content}")
endif()
