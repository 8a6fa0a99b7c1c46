# Writes OUT, a C++ file defining build_version() as `git describe` of
# SOURCE_DIR tells it ("unknown" outside a git checkout). Run at every build,
# so the manifests name the commit the programs were built from; the file is
# rewritten only when the text changes, so nothing recompiles needlessly.
execute_process(COMMAND git -C "${SOURCE_DIR}" describe --always --dirty --tags
                OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
if(failed OR version STREQUAL "")
  set(version "unknown")
endif()
set(text "#include \"files/manifest.hpp\"\nconst char* build_version() { return \"${version}\"; }\n")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
