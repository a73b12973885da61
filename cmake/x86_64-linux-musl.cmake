# Build for x86_64 against musl with Debian's musl-tools, static by default:
#   scripts/musl-cjson        (cJSON for musl, into build-musl-cjson/)
#   cmake -S . -B build-musl -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-linux-musl.cmake
# -DWATCHD_MUSL_STATIC=OFF links against musl's libc.so instead, and
# -DWATCHD_MUSL_CJSON=DIR names another directory made by scripts/musl-cjson.
#
# Only the daemons can be built: Debian has no libstdc++ for musl, so the test
# programs cannot be (WATCHD_BUILD_TESTS is OFF; scripts/test musl runs the
# host build's end-to-end tests against this build's watchd-test). The daemon
# needs no libstdc++: its C++ is compiled against the header-only parts of
# libstdc++ (<atomic>) over musl's C headers, and it is linked by musl's C
# compiler driver.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-linux-musl-gcc)
set(CMAKE_CXX_COMPILER x86_64-linux-gnu-g++)

# musl's compiler-driver file (musl-gcc's) swaps the C headers, start files
# and libc for musl's, and drops every default include directory. The C++
# compiler takes that file too, then gets libstdc++'s header directories back ahead of musl's (its C
# wrappers such as <cstring> include the C headers after them). libstdc++'s
# configuration asks glibc's version through __GLIBC_PREREQ; answering "new
# enough" matches musl: threads and everything else live in libc itself.
set(_musl_driver /usr/lib/x86_64-linux-musl/musl-gcc.specs)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -xc++ -E -v /dev/null
  OUTPUT_QUIET ERROR_VARIABLE _cxx_search)
string(REGEX MATCHALL "\n /[^\n]*/c\\+\\+/[^\n]*" _cxx_dirs "${_cxx_search}")
string(STRIP "${_cxx_dirs}" _cxx_dirs)
string(REGEX REPLACE "[\n ]+" ";" _cxx_dirs "${_cxx_dirs}")
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${_cxx_dirs})
set(CMAKE_CXX_FLAGS_INIT "-specs=${_musl_driver} '-D__GLIBC_PREREQ(major, minor)=1'")

option(WATCHD_MUSL_STATIC "Link the daemon statically against musl" ON)
if(WATCHD_MUSL_STATIC)
  set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
endif()

# There is no libstdc++ for musl: a C++ program linked here would take the
# build machine's, made for glibc. CMake's checks of the compilers only
# compile.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(WATCHD_BUILD_TESTS OFF CACHE BOOL "The test programs need libstdc++, which musl lacks here")

# cJSON comes from scripts/musl-cjson; nothing of the build machine's
# multiarch tree (glibc's cJSON) may be found.
get_filename_component(_repo "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(WATCHD_MUSL_CJSON "${_repo}/build-musl-cjson" CACHE PATH
    "Directory made by scripts/musl-cjson")
set(CMAKE_FIND_ROOT_PATH ${WATCHD_MUSL_CJSON})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
